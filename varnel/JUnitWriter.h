// The JUnit XML report of a run: one test suite per script, one test case
// per step; a step that did not meet its expectation is a failure carrying
// its problem and the step's log lines, a step that did not run is skipped.
#pragma once

#include "varnel/Runner.h"

#include <string>
#include <vector>

std::string junitReport(const std::vector<ScriptOutcome>& scripts);

// Text made safe for XML character data and attribute values, and valid
// UTF-8: a byte that is not part of a well-formed character XML allows is
// written as the text \xNN.
std::string xmlEscape(std::string_view text);
