// The script language: what each kind of line becomes, and the message for
// each kind of mistake, with its file and line.
#include "varnel/Script.h"
#include "varnel/Values.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

namespace {

Step only(const char* line) {
    const Script script = parseScript(line, "t.varnel");
    EXPECT_EQ(script.steps.size(), 1u);
    return script.steps.empty() ? Step{} : script.steps[0];
}

// What `parse` throws as a ScriptError, or "(accepted)".
template <class Parse>
std::string errorOf(Parse parse) {
    try {
        parse();
        return "(accepted)";
    } catch (const ScriptError& error) {
        return error.what();
    }
}

} // namespace

TEST(ScriptParser, SkipsAByteOrderMark) {
    EXPECT_EQ(only("\xEF\xBB\xBFtcp.server open").instance, "tcp.server");
}

TEST(ScriptParser, ReadsLiterals) {
    const std::pair<const char*, Literal> cases[] = {
        {"+3", std::int32_t{3}},
        {"2147483647", std::int32_t{2147483647}},
        {"-2147483648", std::int32_t{-2147483647 - 1}},
        {"1e3", 1000.0},
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
}

TEST(ScriptParser, RefusesAFolder) {
    const std::string error = errorOf([] { readScript(std::filesystem::temp_directory_path()); });
    EXPECT_NE(error.find(": is a folder, not a script file"), std::string::npos) << error;
}

TEST(ScriptParser, GroupsStepsIntoSections) {
    const Script script = parseScript("setup\n a new echo\nend\n# between\ntest \"one\"\n a echo 1\n a echo 2\nend\n"
                                      "test \"empty\"\nend\nteardown\n a delete\nend\n", "t.varnel");
    // An empty test case is a section of its own.
    ASSERT_EQ(script.sections.size(), 4u);
    EXPECT_EQ(std::tie(script.sections[2].name, script.sections[2].first, script.sections[2].count),
              std::make_tuple(std::string("empty"), std::size_t{3}, std::size_t{0}));
    // Without sections every step is a test of its own; "test" and "end"
    // stay usable as instance names.
    const Script plain = parseScript("test new echo\ntest echo 1\nend new echo\n", "t.varnel");
    EXPECT_FALSE(plain.hasTestCases);
    ASSERT_EQ(plain.sections.size(), 3u);
    EXPECT_EQ(plain.sections[2].first, 2u);
}

TEST(ScriptParser, PutsVariablesIn) {
    const Definitions defines = {{"PORT", "5000"}, {"HOST", "localhost"}, {"RATE", "2.5"}, {"ON", "true"},
                                 {"QUOTED", "\"7\""}, {"EMPTY", ""}};
    const Script script = parseScript("l scanf \"${HOST}:${PORT} $${x}\" ${PORT} ${HOST} ${RATE} ${ON} ${QUOTED} "
                                      "${EMPTY} \"${env:PATH}\" expect [\"${HOST}\\t\"]\n",
                                      "t.varnel", defines);
    const Step& first = script.steps[0];
    const std::vector<Term> parameters = {Literal(std::string("localhost:5000 ${x}")), Literal(std::int32_t{5000}),
                                          Literal(std::string("localhost")), Literal(2.5), Literal(true),
                                          Literal(std::string("7")), Literal(std::string()),
                                          Literal(std::string(std::getenv("PATH")))};
    EXPECT_EQ(first.parameters, parameters);
    EXPECT_EQ(*first.expectedValues, (std::vector<Term>{Literal(std::string("localhost\t"))}));
}

// Each mistake, with the file and the line it names.
TEST(ScriptParser, RefusesBadLinesSectionsAndVariables) {
    const std::pair<std::string_view, std::string> cases[] = {
        {"link", "1: missing action after tester instance 'link'"},
        {"\"link\" open", "1: expected a tester instance name, found the text \"link\""},
        {"link new", "1: missing tester name after 'new' (for example: link new serial \"loopback\")"},
        {"link send hello", "1: unknown word 'hello' (texts need double quotes; values are numbers, \"texts\", true or false)"},
        {"link send 99999999999", "1: whole number out of range (32 bits): 99999999999"},
        {"link send 1.2.3", "1: not a number: 1.2.3"},
        {"link send *", "1: '*' stands for any value only among expected values"},
        {"link send [1]", "1: '[' is allowed only after 'expect'"},
        {"link send ]", "1: unexpected ']'"},
        {"link delete 1", "1: 'delete' takes no parameters"},
        {"link open expect", "1: 'expect' needs a result state, [values] or both"},
        {"link open expect fine", "1: unknown result state 'fine' (passed, failed, warning, error or aborted)"},
        {"link scanf expect [1 2", "1: missing ']' after the expected values"},
        {"link scanf expect [1] 2", "1: unexpected '2' after the expectation"},
        {R"(link scanf expect ["\q"])", "1: unknown escape \\q in an expected text (\\n \\r \\t \\0 \\xNN \\\\ \\\" \\')"},
        {"test\nend", "1: a test case needs a name: test \"NAME\""},
        {"test \"\"\nend", "1: a test case needs a name: test \"NAME\""},
        {"test \"a\"\ntest \"b\"\nend", "2: 'test' inside the section 'a' of line 1 (end that one first with 'end')"},
        {"\ntest \"a\"\n l send 1", "2: the section 'a' has no 'end'"},
        {"end", "1: 'end' without a section to end"},
        {"test \"a\"\nend\nsetup\nend", "3: the setup must come before the test cases and the teardown"},
        {"teardown\nend\ntest \"a\"\nend", "3: test cases must come before the teardown"},
        {"test \"a\"\nend\ntest \"a\"\nend", "3: a second test case named 'a' (the first is on line 1)"},
        {"l new echo\ntest \"a\"\nend", "1: a step outside setup, test and teardown (in a script with test cases every step belongs to one)"},
        {"l send ${nope}", "1: undefined variable ${nope} (give it with --define nope=VALUE, or store a step's results: nope = INSTANCE ACTION ...)"},
        {"l send ${r}\nr = l scanf \"%d\"", "1: ${r} is used before line 2 stores it"},
        {"l send ${env:VARNEL_SURELY_UNSET}", "1: the environment variable VARNEL_SURELY_UNSET is not set (used as ${env:VARNEL_SURELY_UNSET})"},
        {"l send ${PORT[0]}", "1: ${PORT[0]}: a value given with --define has no elements"},
        {"r = l scanf\nl send ${r[x]}", "2: '${r[x]}' is not a variable: write ${NAME} or ${NAME[INDEX]}, INDEX from 0"},
        {"l send x${PORT}", "1: a variable in a bare word must stand alone (put texts in quotes: \"...${...}...\")"},
        {"l send \"${PORT\"", "1: unterminated ${ in a quoted text (a closing } is missing)"},
        {"PORT = l scanf", "1: 'PORT' is already given with --define"},
        {"r = l new echo", "1: only an action's result values can be stored ('new' gives none)"},
        {R"(l scanf expect ["\x4"])", "1: \\x needs two hexadecimal digits in an expected text (\\x02)"},
    };
    for (const auto& [script, message] : cases)
        EXPECT_EQ(errorOf([&] { parseScript(script, "dir/s.varnel", {{"PORT", "1"}}); }), "dir/s.varnel:" + message);
    // Decoded \xNN in an expected text: any byte, the NUL byte included.
    const Script bytes = parseScript(R"(l scanf expect ["\x00\x7f\xFFz"])", "s.varnel");
    EXPECT_EQ(*bytes.steps[0].expectedValues, (std::vector<Term>{Literal(std::string("\0\x7f\xff" "z", 4))}));
}
