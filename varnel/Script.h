// A test script as our host reads it: one step per line, each naming a
// tester instance, an action and its parameters, and what the step is
// expected to give.
//
//   link new serial "loopback"          # make instance 'link' of tester "serial"
//   link open
//   link send "Hello %d\r\n" 42
//   link scanf 2 "%s %d" expect [ "Hello" 42 ]
//   link waitfor 1 "'nothing'" expect failed
//   link delete
#pragma once

#include "quillon/ActionResult.h"

#include <cstdint>
#include <filesystem>
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

enum class StepKind { New, Delete, Action };

struct Step {
    int line = 0;
    StepKind kind = StepKind::Action;
    std::string instance;
    std::string action;     // "new", "delete" or the action's name
    std::string testerName; // for "new": which tester to make
    std::vector<Literal> parameters;
    ActionResult expectedState = ActionResult::Passed;
    std::optional<std::vector<Literal>> expectedValues; // checked only when given
};

struct Script {
    std::filesystem::path file;
    std::vector<Step> steps;
};

// A text as messages show it: control characters, the NUL byte included,
// as \xNN, so that a word of binary junk neither ends the message early nor
// drives the terminal.
std::string printableText(std::string_view text);

// A script that cannot be run: its file, the line, and what is wrong.
class ScriptError : public std::runtime_error {
public:
    ScriptError(const std::string& file, int line, const std::string& message)
        : std::runtime_error(printableText(file + ":" + std::to_string(line) + ": " + message)) {}
    explicit ScriptError(const std::string& message) : std::runtime_error(printableText(message)) {}
};

// Parses a script's text; throws ScriptError naming `fileName` and the line.
Script parseScript(std::string_view text, const std::filesystem::path& fileName);

// Reads and parses a script file; a file that cannot be read, or that holds
// no step at all, is a ScriptError.
Script readScript(const std::filesystem::path& file);

// The result state's name as scripts write it ("passed", ...), and back.
std::string_view stateName(ActionResult state);
std::optional<ActionResult> stateFromName(std::string_view name);
