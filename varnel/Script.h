// A test script as our host reads it: one step per line, each naming a
// tester instance, an action and its parameters, and what the step is
// expected to give; optionally grouped into named test cases with a setup
// and a teardown, and using variables.
//
//   setup
//     link new serial "loopback"        # make instance 'link' of tester "serial"
//     link open ${PORT}                 # a value given with --define PORT=...
//   end
//   test "greeting"
//     link send "Hello %d\r\n" 42
//     reading = link scanf 2 "%s %d" expect [ "Hello" 42 ]
//     link send "%d" ${reading[1]}      # one value the step above stored
//     link waitfor 1 "'nothing'" expect failed
//   end
//   teardown
//     link delete
//   end
#pragma once

#include "quillon/ActionResult.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A value written in a script. Whole numbers are 32-bit integers, other
// numbers doubles, quoted texts strings, true and false booleans. AnyValue
// ('*') stands for any one result value in an expectation.
struct AnyValue {
    bool operator==(const AnyValue&) const = default;
};
using Literal = std::variant<std::int32_t, double, std::string, bool, AnyValue>;

// Values a step stored, used by a later step: ${name} is all of them (as
// that many parameters or expected values), ${name[i]} the one at index i.
struct StoredReference {
    std::string name;
    std::optional<std::size_t> index;
    bool operator==(const StoredReference&) const = default;
};
// A quoted text with stored values in it; each becomes its text.
struct TextTemplate {
    std::vector<std::variant<std::string, StoredReference>> pieces;
    bool operator==(const TextTemplate&) const = default;
};
// A parameter or expected value as written; defined and environment
// variables are already replaced by their values.
using Term = std::variant<Literal, StoredReference, TextTemplate>;

enum class StepKind { New, Delete, Action };

struct Step {
    int line = 0;
    StepKind kind = StepKind::Action;
    std::string instance;
    std::string action;     // "new", "delete" or the action's name
    std::string testerName; // for "new": which tester to make
    std::vector<Term> parameters;
    ActionResult expectedState = ActionResult::Passed;
    std::optional<std::vector<Term>> expectedValues; // checked only when given
    std::string storeAs; // the name its result values are stored under, or empty
};

// Consecutive steps that succeed or fail together. A script without test
// cases has one test section per step.
struct Section {
    enum Kind { Setup, Test, Teardown };
    Kind kind = Test;
    std::string name; // the test case's name; "setup" or "teardown"
    int line = 0;     // where it starts
    std::size_t first = 0, count = 0; // its steps in Script::steps
};

struct Script {
    std::filesystem::path file;
    std::vector<Step> steps;       // every step, in running order
    std::vector<Section> sections; // covering the steps in order
    bool hasTestCases = false;
};

// The values of --define NAME=VALUE.
using Definitions = std::vector<std::pair<std::string, std::string>>;

// A text as messages show it: control characters, the NUL byte included,
// as \xNN, so that a word of binary junk neither ends the message early nor
// drives the terminal.
std::string printableText(std::string_view text);

// A text as values and log lines show it: bytes that are not part of
// well-formed UTF-8 as \xNN, so that what a device sent shows as bytes.
std::string utf8OrEscaped(std::string_view text);

// A script that cannot be run: its file, the line, and what is wrong.
class ScriptError : public std::runtime_error {
public:
    ScriptError(const std::string& file, int line, const std::string& message)
        : std::runtime_error(printableText(file + ":" + std::to_string(line) + ": " + message)), file_(file),
          line_(line) {}
    explicit ScriptError(const std::string& message) : std::runtime_error(printableText(message)) {}
    const std::string& file() const { return file_; } // empty when no script is to blame
    int line() const { return line_; }

private:
    std::string file_;
    int line_ = 0;
};

// Parses a script's text; throws ScriptError naming `fileName` and the line.
Script parseScript(std::string_view text, const std::filesystem::path& fileName,
                   const Definitions& definitions = {});

// Reads and parses a script file; a file that cannot be read, or that holds
// no step at all, is a ScriptError.
Script readScript(const std::filesystem::path& file, const Definitions& definitions = {});

// Steps typed one line at a time (the console): a line is one step or
// nothing, and what a step stores later lines may use.
class TypedLines {
public:
    // `source` names where the lines come from in messages ("console:3").
    explicit TypedLines(Definitions definitions, std::string source = "console")
        : definitions_(std::move(definitions)), source_(std::move(source)) {}

    // The step on the next line, or none for a blank or comment line. A bad
    // step, or a section line, is a ScriptError naming "console" and the
    // line's number.
    std::optional<Step> parse(std::string_view line);
    // A name an earlier script stored values under.
    void knowStored(const std::string& name) { storedOn_.emplace(name, 0); }
    // Counts lines from 1 again, for the next text of several lines.
    void restartCount() { count_ = 0; }
    const std::string& source() const { return source_; }

private:
    Definitions definitions_;
    std::string source_;
    std::map<std::string, int> storedOn_;
    int count_ = 0; // lines so far
};

// The result state's name as scripts write it ("passed", ...), and back.
std::string_view stateName(ActionResult state);
std::optional<ActionResult> stateFromName(std::string_view name);
