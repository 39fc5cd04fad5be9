// The script language: what each kind of line becomes, and the message for
// each kind of mistake, with its file and line.
#include "varnel/Script.h"
#include "varnel/Values.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

Step only(const char* line) {
    const Script script = parseScript(line, "t.varnel");
    EXPECT_EQ(script.steps.size(), 1u);
    return script.steps.empty() ? Step{} : script.steps[0];
}

} // namespace

TEST(ScriptParser, ReadsEachKindOfLine) {
    const Script script = parseScript("\xEF\xBB\xBF# a comment after a byte order mark\n\n   \t\n"
                                      "tcp.server new serial \"tcp\"\nlink open   # after a step\nlink delete\n",
                                      "t.varnel");
    ASSERT_EQ(script.steps.size(), 3u);
    EXPECT_EQ(script.steps[0].line, 4);
    EXPECT_EQ(script.steps[0].kind, StepKind::New);
    EXPECT_EQ(script.steps[0].instance, "tcp.server");
    EXPECT_EQ(script.steps[0].testerName, "serial");
    EXPECT_EQ(script.steps[1].kind, StepKind::Action);
    EXPECT_EQ(script.steps[1].action, "open");
    EXPECT_FALSE(script.steps[1].expectedValues);
    EXPECT_EQ(script.steps[2].kind, StepKind::Delete);
}

// What the echo tester's scripts do not show: the range ends, the number
// forms, texts that look like comments or expressions, state with values.
TEST(ScriptParser, ReadsLiteralsAndExpectations) {
    const std::pair<const char*, Literal> cases[] = {
        {"+3", std::int32_t{3}},
        {"2147483647", std::int32_t{2147483647}},
        {"-2147483648", std::int32_t{-2147483647 - 1}},
        {"1e3", 1000.0},
        {".5", 0.5},
        {"\"\"", std::string()},
        {R"("back\\")", std::string(R"(back\\)")},
        {R"("# not a comment")", std::string("# not a comment")},
        {R"("'OK' or 'ERR'")", std::string("'OK' or 'ERR'")},
    };
    for (const auto& [text, value] : cases) {
        const Step step = only((std::string("t echo ") + text).c_str());
        ASSERT_EQ(step.parameters.size(), 1u) << text;
        EXPECT_EQ(step.parameters[0], Term(value)) << text;
    }
    const Step step = only(R"(l scanf "%d" expect failed [42 "a\tb" * false])");
    EXPECT_EQ(step.expectedState, ActionResult::Failed);
    ASSERT_TRUE(step.expectedValues);
    EXPECT_EQ(*step.expectedValues, (std::vector<Term>{Literal(std::int32_t{42}), Literal(std::string("a\tb")),
                                                       Literal(AnyValue{}), Literal(false)}));
}

// Each message names the file and the line.
TEST(ScriptParser, RefusesBadLines) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"\n\nlink send \"open", "dir/bad.varnel:3: unterminated quoted text (a closing \" is missing)"},
        {"link", "dir/bad.varnel:1: missing action after tester instance 'link'"},
        {"\"link\" open", "dir/bad.varnel:1: expected a tester instance name, found the text \"link\""},
        {"9link open", "dir/bad.varnel:1: '9link' is not a tester instance name"},
        {"link new", "dir/bad.varnel:1: missing tester name after 'new' (for example: link new serial \"loopback\")"},
        {"link new \"serial\"", "dir/bad.varnel:1: missing tester name after 'new' (for example: link new serial \"loopback\")"},
        {"link send hello", "dir/bad.varnel:1: unknown word 'hello' (texts need double quotes; values are numbers, \"texts\", true or false)"},
        {"link send 99999999999", "dir/bad.varnel:1: whole number out of range (32 bits): 99999999999"},
        {"link send 1.2.3", "dir/bad.varnel:1: not a number: 1.2.3"},
        {"link send 0x10", "dir/bad.varnel:1: not a number: 0x10"},
        {"link send *", "dir/bad.varnel:1: '*' stands for any value only among expected values"},
        {"link send [1]", "dir/bad.varnel:1: '[' is allowed only after 'expect'"},
        {"link send ]", "dir/bad.varnel:1: unexpected ']'"},
        {"link delete 1", "dir/bad.varnel:1: 'delete' takes no parameters"},
        {"link open expect", "dir/bad.varnel:1: 'expect' needs a result state, [values] or both"},
        {"link open expect fine", "dir/bad.varnel:1: unknown result state 'fine' (passed, failed, warning, error or aborted)"},
        {"link scanf expect [1 2", "dir/bad.varnel:1: missing ']' after the expected values"},
        {"link scanf expect [1] 2", "dir/bad.varnel:1: unexpected '2' after the expectation"},
        {R"(link scanf expect ["\q"])", "dir/bad.varnel:1: unknown escape \\q in an expected text (\\n \\r \\t \\0 \\xNN \\\\ \\\" \\')"},
        // Binary junk: a NUL does not end the message, control characters are shown.
        {std::string_view("\x7f" "ELF\x02\0\x1b" "c open\n", 14),
         "dir/bad.varnel:1: '\\x7fELF\\x02\\x00\\x1bc' is not a tester instance name"},
    };
    for (const auto& [script, message] : cases) {
        try {
            parseScript(script, "dir/bad.varnel");
            ADD_FAILURE() << "accepted: " << script;
        } catch (const ScriptError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

// A file without steps (empty, or only comments) is bad input, not a run
// that passes with nothing in it; a folder is no script either.
TEST(ScriptParser, RefusesFilesThatHoldNoScript) {
    const std::filesystem::path file = "no-steps-test.varnel"; // in the build folder, where the test runs
    for (const char* text : {"", "\n  \n# only a comment\n"}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        try {
            readScript(file);
            ADD_FAILURE() << "accepted: '" << text << "'";
        } catch (const ScriptError& error) {
            EXPECT_EQ(std::string(error.what()),
                      file.generic_string() + ": the script has no steps (only blank lines and comments)");
        }
    }
    std::filesystem::remove(file);
    try {
        readScript(std::filesystem::temp_directory_path());
        ADD_FAILURE() << "a folder accepted";
    } catch (const ScriptError& error) {
        EXPECT_NE(std::string(error.what()).find(": is a folder, not a script file"), std::string::npos) << error.what();
    }
}
