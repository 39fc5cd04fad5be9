// The JUnit XML report of a run: one test suite per script, one test case
// per named test (per step in a script without test cases). A test case
// whose step gave "error" is an error, one that missed otherwise a failure,
// each carrying the step, its problem, its log lines and the instance's last
// lines; a test case that did not run is skipped. The setup and teardown
// appear only when they went wrong.
#pragma once

#include "varnel/Runner.h"

#include <string>
#include <vector>

std::string junitReport(const std::vector<ScriptOutcome>& scripts);

// The report of a run that could not start: one error test case naming the
// file and line (or just the message, when no script is to blame).
std::string junitErrorReport(const std::string& file, int line, const std::string& message);

// Text made safe for XML character data and attribute values, and valid
// UTF-8: a byte that is not part of a well-formed character XML allows is
// written as the text \xNN.
std::string xmlEscape(std::string_view text);
