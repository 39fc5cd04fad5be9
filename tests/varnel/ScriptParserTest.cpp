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

TEST(ScriptParser, SkipsCommentsAndBlankLines) {
    const Script script = parseScript("# a comment\n\n   \t\nlink open   # after a step\n", "t.varnel");
    ASSERT_EQ(script.steps.size(), 1u);
    EXPECT_EQ(script.steps[0].line, 4);
    EXPECT_EQ(script.steps[0].instance, "link");
    EXPECT_EQ(script.steps[0].action, "open");
    EXPECT_EQ(script.steps[0].kind, StepKind::Action);
    EXPECT_TRUE(script.steps[0].parameters.empty());
    EXPECT_EQ(script.steps[0].expectedState, ActionResult::Passed);
    EXPECT_FALSE(script.steps[0].expectedValues);
}

TEST(ScriptParser, ReadsNewWithItsTesterAndParameters) {
    const Step step = only("tcp.server new serial \"tcp\"");
    EXPECT_EQ(step.kind, StepKind::New);
    EXPECT_EQ(step.instance, "tcp.server");
    EXPECT_EQ(step.testerName, "serial");
    ASSERT_EQ(step.parameters.size(), 1u);
    EXPECT_EQ(std::get<std::string>(step.parameters[0]), "tcp");
}

TEST(ScriptParser, ReadsDelete) {
    EXPECT_EQ(only("link delete").kind, StepKind::Delete);
}

struct LiteralCase {
    const char* text;
    Literal value;
};

class Literals : public testing::TestWithParam<LiteralCase> {};

TEST_P(Literals, HaveTheirType) {
    const Step step = only((std::string("t echo ") + GetParam().text).c_str());
    ASSERT_EQ(step.parameters.size(), 1u);
    EXPECT_EQ(step.parameters[0], GetParam().value) << describe(step.parameters[0]);
}

INSTANTIATE_TEST_SUITE_P(Script, Literals, testing::Values(
    LiteralCase{"42", std::int32_t{42}},
    LiteralCase{"-7", std::int32_t{-7}},
    LiteralCase{"+3", std::int32_t{3}},
    LiteralCase{"2147483647", std::int32_t{2147483647}},
    LiteralCase{"-2147483648", std::int32_t{-2147483647 - 1}},
    LiteralCase{"2.5", 2.5},
    LiteralCase{"-0.25", -0.25},
    LiteralCase{"1e3", 1000.0},
    LiteralCase{".5", 0.5},
    LiteralCase{"true", true},
    LiteralCase{"false", false},
    LiteralCase{"\"text\"", std::string("text")},
    LiteralCase{"\"\"", std::string()},
    // Characters pass through unchanged: the tester's formatter reads the escapes.
    LiteralCase{R"("a\r\nb")", std::string(R"(a\r\nb)")},
    LiteralCase{R"("say \"hi\"")", std::string(R"(say \"hi\")")},
    LiteralCase{R"("back\\")", std::string(R"(back\\)")},
    LiteralCase{R"("# not a comment")", std::string("# not a comment")},
    LiteralCase{R"("'OK' or 'ERR'")", std::string("'OK' or 'ERR'")}));

TEST(ScriptParser, ReadsSeveralParametersInOrder) {
    const Step step = only("link send 5 \"%d %s\" 12 \"x\" true 0.5");
    const std::vector<Literal> expected{std::int32_t{5}, std::string("%d %s"), std::int32_t{12}, std::string("x"),
                                        true, 0.5};
    EXPECT_EQ(step.parameters, expected);
}

TEST(ScriptParser, ReadsAnExpectedState) {
    const Step step = only("link waitfor 1 \"'x'\" expect failed");
    EXPECT_EQ(step.expectedState, ActionResult::Failed);
    EXPECT_FALSE(step.expectedValues);
    EXPECT_EQ(step.parameters.size(), 2u);
    for (const auto& [name, state] : {std::pair{"passed", ActionResult::Passed}, {"warning", ActionResult::Warning},
                                      {"error", ActionResult::Error}, {"aborted", ActionResult::Aborted}})
        EXPECT_EQ(only((std::string("l a expect ") + name).c_str()).expectedState, state);
}

TEST(ScriptParser, ReadsExpectedValuesWithDecodedEscapes) {
    const Step step = only(R"(link scanf "%d %s" expect [42 "a\tb" * 2.5 false])");
    EXPECT_EQ(step.expectedState, ActionResult::Passed);
    ASSERT_TRUE(step.expectedValues);
    const std::vector<Literal> expected{std::int32_t{42}, std::string("a\tb"), AnyValue{}, 2.5, false};
    EXPECT_EQ(*step.expectedValues, expected);
}

TEST(ScriptParser, ReadsStateAndValuesTogether) {
    const Step step = only("l scanf \"%d\" expect failed []");
    EXPECT_EQ(step.expectedState, ActionResult::Failed);
    ASSERT_TRUE(step.expectedValues);
    EXPECT_TRUE(step.expectedValues->empty());
}

struct BadLine {
    const char* script;
    const char* message; // the whole message, file and line included
};

class BadLines : public testing::TestWithParam<BadLine> {};

TEST_P(BadLines, AreRefusedNamingFileAndLine) {
    try {
        parseScript(GetParam().script, "dir/bad.varnel");
        FAIL() << "accepted: " << GetParam().script;
    } catch (const ScriptError& error) {
        EXPECT_EQ(std::string(error.what()), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(Script, BadLines, testing::Values(
    BadLine{"\n\nlink send \"open", "dir/bad.varnel:3: unterminated quoted text (a closing \" is missing)"},
    BadLine{"link", "dir/bad.varnel:1: missing action after tester instance 'link'"},
    BadLine{"\"link\" open", "dir/bad.varnel:1: expected a tester instance name, found the text \"link\""},
    BadLine{"9link open", "dir/bad.varnel:1: '9link' is not a tester instance name"},
    BadLine{"link new", "dir/bad.varnel:1: missing tester name after 'new' (for example: link new serial \"loopback\")"},
    BadLine{"link new \"serial\"", "dir/bad.varnel:1: missing tester name after 'new' (for example: link new serial \"loopback\")"},
    BadLine{"link send hello", "dir/bad.varnel:1: unknown word 'hello' (texts need double quotes; values are numbers, \"texts\", true or false)"},
    BadLine{"link send 99999999999", "dir/bad.varnel:1: whole number out of range (32 bits): 99999999999"},
    BadLine{"link send 1.2.3", "dir/bad.varnel:1: not a number: 1.2.3"},
    BadLine{"link send 0x10", "dir/bad.varnel:1: not a number: 0x10"},
    BadLine{"link send *", "dir/bad.varnel:1: '*' stands for any value only among expected values"},
    BadLine{"link send [1]", "dir/bad.varnel:1: '[' is allowed only after 'expect'"},
    BadLine{"link send ]", "dir/bad.varnel:1: unexpected ']'"},
    BadLine{"link delete 1", "dir/bad.varnel:1: 'delete' takes no parameters"},
    BadLine{"link open expect", "dir/bad.varnel:1: 'expect' needs a result state, [values] or both"},
    BadLine{"link open expect fine", "dir/bad.varnel:1: unknown result state 'fine' (passed, failed, warning, error or aborted)"},
    BadLine{"link scanf expect [1 2", "dir/bad.varnel:1: missing ']' after the expected values"},
    BadLine{"link scanf expect [1] 2", "dir/bad.varnel:1: unexpected '2' after the expectation"},
    BadLine{R"(link scanf expect ["\q"])", "dir/bad.varnel:1: unknown escape \\q in an expected text (\\n \\r \\t \\0 \\\\ \\\" \\')"}));

// Binary junk: a NUL must not end the message early, and control
// characters are shown, not sent to the terminal.
TEST(ScriptParser, ShowsControlCharactersOfAWordAsEscapes) {
    constexpr std::string_view junk("\x7f" "ELF\x02\0\x1b" "c open\n", 14);
    try {
        parseScript(junk, "junk.varnel");
        FAIL();
    } catch (const ScriptError& error) {
        EXPECT_EQ(std::string(error.what()), "junk.varnel:1: '\\x7fELF\\x02\\x00\\x1bc' is not a tester instance name");
    }
}

TEST(ScriptParser, SkipsAByteOrderMark) {
    const Script script = parseScript("\xEF\xBB\xBFlink open\n", "s.varnel");
    ASSERT_EQ(script.steps.size(), 1u);
    EXPECT_EQ(script.steps[0].instance, "link");
    EXPECT_EQ(script.steps[0].line, 1);
}

TEST(ScriptParser, ReportsAFileThatCannotBeRead) {
    try {
        readScript("no/such/script.varnel");
        FAIL();
    } catch (const ScriptError& error) {
        EXPECT_EQ(std::string(error.what()), "no/such/script.varnel: cannot read the script file");
    }
}

// A file without steps (empty, or only comments) is bad input, not a run
// that passes with nothing in it.
TEST(ScriptParser, ReportsAFileWithoutSteps) {
    const std::filesystem::path file = "no-steps-test.varnel"; // in the build folder, where the test runs
    for (const char* text : {"", "\n  \n# only a comment\n"}) {
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << text;
        }
        try {
            readScript(file);
            FAIL() << "accepted: '" << text << "'";
        } catch (const ScriptError& error) {
            EXPECT_EQ(std::string(error.what()),
                      file.generic_string() + ": the script has no steps (only blank lines and comments)");
        }
    }
    std::filesystem::remove(file);
}

TEST(ScriptParser, ReportsAFolderGivenAsAScript) {
    try {
        readScript(std::filesystem::temp_directory_path());
        FAIL();
    } catch (const ScriptError& error) {
        EXPECT_NE(std::string(error.what()).find(": is a folder, not a script file"), std::string::npos) << error.what();
    }
}
