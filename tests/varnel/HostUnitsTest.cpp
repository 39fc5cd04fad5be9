// Our host's smaller units, in the forms no script run shows.
#include "varnel/JUnitWriter.h"
#include "varnel/LogPrinter.h"
#include "varnel/Progress.h"
#include "varnel/ValueParser.h"
#include "varnel/Values.h"
#include "com/ComPtr.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(Values, MatchByTypeAndValue) {
    EXPECT_FALSE(matches(Literal{std::int32_t{42}}, ResultValue{42.0})); // an integer is not a double
    EXPECT_FALSE(matches(Literal{true}, ResultValue{std::int32_t{-1}}));
    EXPECT_TRUE(matches(Literal{AnyValue{}}, ResultValue{OtherValue{VT_DATE}}));
    EXPECT_FALSE(matches(std::vector<Literal>{std::int32_t{1}}, std::vector<ResultValue>{}));
}

TEST(Values, AreShownWithTheirType) {
    // Doubles in the shortest form that reads back, laid out as %g lays out that many digits.
    const std::pair<double, const char*> doubles[] = {
        {0.1, "Double 0.1"}, {2.5, "Double 2.5"}, {1e5, "Double 1e+05"}, {123456.0, "Double 123456"},
        {1234500.0, "Double 1.2345e+06"}, {0.0001, "Double 0.0001"}, {1e-5, "Double 1e-05"},
        {4294967296.0, "Double 4294967296"}, {1.0 / 3, "Double 0.3333333333333333"}, {-0.0, "Double -0"},
        {5e-324, "Double 5e-324"}, {1e300 * 1e10, "Double inf"}};
    for (const auto& [value, text] : doubles) EXPECT_EQ(describe(ResultValue{value}), text);
    EXPECT_EQ(describe(ResultValue{std::string("a\r\n\"b\"\x01")}), "String \"a\\r\\n\\\"b\\\"\\x01\"");
    EXPECT_EQ(describe(ResultValue{OtherValue{VT_DATE}}), "Value of type 7");
    EXPECT_EQ(describe(std::vector<Literal>{std::int32_t{1}, AnyValue{}}), "Integer 1, any value");
}

TEST(LogPrinter, IndentsFurtherLinesAndNamesUnknownLevels) {
    EXPECT_EQ(LogPrinter::format("12:00:00.000", "a", 3, "one\r\ntwo\n"),
              "12:00:00.000 a Info    one\n                       two");
    EXPECT_EQ(LogPrinter::format("", "a", 9, "x"), "a Level 9 x");
}

TEST(JUnit, EscapesXmlAndKeepsTheReportValidUtf8) {
    // Well-formed characters stay as they are.
    EXPECT_EQ(xmlEscape("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \x7F"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \x7F");
    // A byte of another code page, an over-long form, a surrogate, a
    // non-character, one past the last, a cut sequence: each byte becomes \xNN.
    EXPECT_EQ(xmlEscape("caf\xE9!|\xC0\x80|\xED\xA0\x80|\xEF\xBF\xBE|\xF4\x90\x80\x80|a\xE2\x82"),
              "caf\\xe9!|\\xc0\\x80|\\xed\\xa0\\x80|\\xef\\xbf\\xbe|\\xf4\\x90\\x80\\x80|a\\xe2\\x82");
}

TEST(ValueParser, ReadsJsonOrAList) {
    const std::pair<const char*, std::vector<ResultValue>> cases[] = {
        {"[1, 2.5, \"a\", true, null]", {std::int32_t{1}, 2.5, std::string("a"), true, OtherValue{VT_EMPTY}}},
        {"42", {std::int32_t{42}}},
        {"4294967296", {4294967296.0}},
        {"\"text\"", {std::string("text")}},
        {"{\"x\": [1,2]}", {std::string("{\"x\":[1,2]}")}},
        {"[[1, 2], {}]", {std::string("[1,2]"), std::string("{}")}},
        {"3, 'two', one , 4.5, False", {std::int32_t{3}, std::string("two"), std::string("one"), 4.5, false}},
        {"{1, \"a,b\", 'it\\'s'}", {std::int32_t{1}, std::string("a,b"), std::string("it's")}},
        {"(x, , y)", {std::string("x"), std::string(), std::string("y")}},
        {"hello world", {std::string("hello world")}},
        {"", {}},
        {"  [ ]  ", {}},
        // Bare items are numbers only in decimal form; the rest stay texts.
        {"+7, 5., .5, -1E-2, 3000000000", {std::int32_t{7}, 5.0, 0.5, -0.01, 3000000000.0}},
        {"0x10, +-5, -inf, nan, 1e999, 1e, e5", {std::string("0x10"), std::string("+-5"), std::string("-inf"),
                                                std::string("nan"), std::string("1e999"), std::string("1e"),
                                                std::string("e5")}},
    };
    for (const auto& [text, values] : cases) EXPECT_EQ(parseValues(text), values) << text;
    for (const char* bad : {"1, 'two", "{1, 2", "'a' b"}) EXPECT_THROW(parseValues(bad), ValueParseError) << bad;
}

TEST(ValueParser, IsSuppliedThroughItsClassIdentifierWhileRegistered) {
    ComRuntime com;
    ComPtr<IValueParser> parser;
    const auto create = [&] {
        return CoCreateInstance(CLSID_ValueParser, nullptr, CLSCTX_INPROC_SERVER, IID_IValueParser, parser.putVoid());
    };
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);
    {
        ValueParserRegistration registration;
        ASSERT_EQ(registration.result(), S_OK);
        ASSERT_EQ(create(), S_OK);
        const Bstr text(platform::bstrFromNarrow("'open"));
        SAFEARRAY* values = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0xDEADBEEF));
        EXPECT_EQ(parser->parse(text.get(), &values), E_INVALIDARG);
        EXPECT_EQ(values, nullptr);
    }
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);
}

TEST(LogPrinter, NextLineReplacesTheStatusWhereStatusIsOn) {
    std::ostringstream terminal;
    LogPrinter printer(terminal, 0, false);
    printer.enableStatus();
    printer.showStatus("t wait: 3 s");
    printer.print("next");
    EXPECT_EQ(terminal.str(), "t wait: 3 s\r           \rnext\n");
}

TEST(Progress, CountsDownToZeroElseUp) {
    const ActionHelp waitfor{"waitfor", "", {"int timeOutSec=5", "string format"}, {}};
    const ActionHelp wait{"wait", "", {"int seconds"}, {}};
    EXPECT_EQ(leadingTimeout(waitfor, {std::string("x")}), std::nullopt);
    EXPECT_EQ(leadingTimeout(wait, {std::int32_t{30}}), std::nullopt);
    EXPECT_EQ(progressText("link", "waitfor", 1.0, 4.0), "link waitfor: 0 s left");
    EXPECT_EQ(progressText("t", "wait", std::nullopt, 4.9), "t wait: 4 s");
}

TEST(TypedLines, KeepStoredNamesAcrossLinesAndRefuseSections) {
    TypedLines lines(Definitions{{"PORT", "7"}});
    lines.knowStored("early");
    EXPECT_FALSE(lines.parse("  # a comment"));
    EXPECT_TRUE(lines.parse("got = t echo ${PORT} ${early}"));
    const auto step = lines.parse("t echo ${got[0]}");
    ASSERT_TRUE(step);
    EXPECT_EQ(step->line, 3);
    for (const char* bad : {"t echo ${unknown}", "setup", "end", "test \"x\""})
        EXPECT_THROW(lines.parse(bad), ScriptError) << bad;
    EXPECT_TRUE(lines.parse("t echo ${got}")); // a bad line leaves what was stored
}
