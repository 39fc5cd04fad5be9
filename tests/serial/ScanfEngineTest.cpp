// The scanf format language on its own, over a scripted run of received bytes.
#include "FakeScanPort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ScanCase {
    std::string format;
    std::string received;
    ActionResult result;
    std::vector<std::string> values;
    std::string message;         // the one line logged, if any
    std::string unread;          // what the scan left for the next action
    bool waitsForDeadline;       // the scan ended only because the deadline passed
};

const ActionResult Passed = ActionResult::Passed;
const ActionResult Failed = ActionResult::Failed;
const ActionResult Error = ActionResult::Error;

const std::vector<ScanCase>& conversionCases() {
    static const std::vector<ScanCase> cases = {
        // format, received, result, values, message, unread, waits for the deadline
        {"%d,%d", " 12,-7\r", Passed, {"i:12", "i:-7"}, "", "\r", false},
        {"%d", "+5 ", Passed, {"i:5"}, "", " ", false},
        {"%d", "-2147483648 ", Passed, {"i:-2147483648"}, "", " ", false},
        {"%d", "4294967297 ", Passed, {"i:1"}, "", " ", false},           // 32-bit arithmetic wraps
        {"%d", "12", Passed, {"i:12"}, "", "", true},                    // the number could go on
        {"%d", "12\r", Passed, {"i:12"}, "", "\r", false},
        {"%d", "", Failed, {}, "Invalid decimal number received", "", true},
        {"%d", "-x", Failed, {}, "Invalid decimal number received", "x", false},
        {"%2d", "12345 ", Passed, {"i:12345"}, "", " ", false},          // width only for scan sets
        {"%u", "+42 ", Passed, {"i:42"}, "", " ", false},
        {"%u", "4294967295 ", Passed, {"i:-1"}, "", " ", false},
        {"%u", "-1", Failed, {}, "Invalid unsigned decimal number received", "-1", false},
        {"%o", "777 ", Passed, {"i:511"}, "", " ", false},
        {"%o", "78 ", Passed, {"i:7"}, "", "8 ", false},
        {"%o", "8", Failed, {}, "Invalid octal number received", "8", false},
        {"%o", "-7", Failed, {}, "Invalid octal number received", "-7", false},
        {"%x", "1aF ", Passed, {"i:431"}, "", " ", false},
        {"%x", "0x1F", Passed, {"i:0"}, "", "x1F", false},
        {"%x", "ffffffff ", Passed, {"i:-1"}, "", " ", false},
        {"%x", "g", Failed, {}, "Invalid hex number received", "g", false},
        {"V=%f", "V=1.5e3 ", Passed, {"d:1500"}, "", " ", false},
        {"%g", "-.5 ", Passed, {"d:-0.5"}, "", " ", false},
        {"%e", "3;", Passed, {"d:3"}, "", ";", false},
        {"%E", "1e-2;", Passed, {"d:0.01"}, "", ";", false},
        {"%G", "+2.;", Passed, {"d:2"}, "", ";", false},
        {"%f", "7E+1x", Passed, {"d:70"}, "", "x", false},
        {"%f", "2e;", Passed, {"d:2"}, "", ";", false},
        {"%f", ".e5;", Failed, {}, "Invalid float received .e5", ";", false},
        {"%f", "-x", Failed, {}, "Invalid float received -", "x", false},
        {"%f", "abc", Failed, {}, "Invalid float received ", "abc", false},
        {"%s", "  hello world", Passed, {"s:hello"}, "", " world", false},
        {"%s", "tab\tnext", Passed, {"s:tab"}, "", "\tnext", false},
        {"%3s", "abcdef ", Passed, {"s:abcdef"}, "", " ", false},
        {"%s", "end", Passed, {"s:end"}, "", "", true},
        {"%s", "", Failed, {}, "Blank string received", "", true},
        {"%2[0-9]", "123", Passed, {"s:12"}, "", "3", false},
        {"%[^,]%d", "abc,5 ", Passed, {"s:abc", "i:5"}, "", " ", false},
        {"%[^,],%d", "abc,5", Error, {"s:abc"},
         "Incorrect character received at position 5 (Expected ',' Got '5')", "", false},
        {"%[a-c]", "abcd", Passed, {"s:abc"}, "", "", false},            // the ending byte is consumed
        {"%[c-a]", "cbad", Passed, {"s:cba"}, "", "", false},            // a falling range
        {"%[a-z]", "abc", Passed, {"s:abc"}, "", "", true},
        {"%3[a-z]", "abc", Passed, {"s:abc"}, "", "", false},
        {"%0[a-z]", "abc", Failed, {}, "Blank string received", "abc", false},
        {"%[a-z]", "1", Failed, {}, "Blank string received", "", false},
        {"%[]", "a", Failed, {}, "Blank string received", "", false},    // an empty set
        {"%[^]", "a b", Passed, {"s:a b"}, "", "", true},
        {"%[a-c-e]", "edcbaf", Passed, {"s:edcba"}, "", "", false},
        {"%[\\-a]", "-a-b", Passed, {"s:-a-"}, "", "", false},
        {"%[a\\-z]", "z-ab", Passed, {"s:z-a"}, "", "", false},        // an escaped '-' is no range
        {"%[\\]]", "]]x", Passed, {"s:]]"}, "", "", false},
        {"%[\\\\]", "\\\\x", Passed, {"s:\\\\"}, "", "", false},
        {"%[\\n\\t]", "\n\t\n.", Passed, {"s:\n\t\n"}, "", "", false},
        {"%[\\\"\\']", "\"'x", Passed, {"s:\"'"}, "", "", false},
        {"%[0-9", "42a", Passed, {"s:42"}, "", "", false},              // not closed: ends with the format
        {"%[a-]", "_`a]x", Passed, {"s:_`a]"}, "", "", false},            // '-' then ']' is a falling range
        {"%[-a]", "-a-", Passed, {"s:-a-"}, "", "", true},             // a leading '-' is a member
        {"%*d %s", "42 abc ", Passed, {"s:abc"}, "Dec value 42 discarded", " ", false},
        {"%*u;", "7;", Passed, {}, "Unsigned value 7 discarded", "", false},
        {"%*o;", "17;", Passed, {}, "Oct value 17 discarded", "", false},
        {"%*x;", "ff;", Passed, {}, "Hex value FF discarded", "", false},
        {"%*f;", "2.5;", Passed, {}, "Double value 2.5 discarded", "", false},
        {"%*s ", "word ", Passed, {}, "String value \"word\" discarded", " ", false},
        {"%*[a-z]", "abc1", Passed, {}, "String value \"abc\" discarded", "", false},
        {"%*d%d", "1 2 ", Passed, {"i:2"}, "Dec value 1 discarded", " ", false}, // '*' is reset per conversion
        {"%%", "%", Passed, {}, "", "", false},
        {"%%", "x", Failed, {}, "", "", false},
        {"100%%", "100%", Passed, {}, "", "", false},
        {"%q", "", Error, {}, "Invalid format statement at position 1", "", false},
        {"%X", "1", Error, {}, "Invalid format statement at position 1", "1", false},
        {"%3.2f", "1", Error, {}, "Invalid format statement at position 2", "1", false},
        {"A", "B", Error, {}, "Incorrect character received at position 0 (Expected 'A' Got 'B')", "", false},
        {"A", " \r\n\tA", Passed, {}, "", "", false},
        {"OK\\r\\n%d", "OK\r\n42\r", Passed, {"i:42"}, "", "\r", false},
        {"a\\q", "a", Error, {}, "Only \\n, \\t or \\r allowed", "", false},
        {"a\\", "a", Error, {}, "Only \\n, \\t or \\r allowed", "", false},
        {" \t%d", "5\n", Passed, {"i:5"}, "", "\n", false},
        {"%d ", "5", Failed, {"i:5"}, "", "", true},                     // the deadline ends the number and the scan
        {"", "abc", Passed, {}, "", "abc", false},
    };
    return cases;
}

TEST(ScanfEngine, ConversionTable) {
    for (const auto& c : conversionCases()) {
        SCOPED_TRACE("format '" + c.format + "' received '" + c.received + "'");
        FakeScanPort port(c.received);
        EXPECT_EQ(ScanfEngine(port).run(c.format), c.result);
        EXPECT_EQ(port.values, c.values);
        if (c.message.empty()) {
            EXPECT_TRUE(port.lines.empty()) << port.lines.front().second;
        } else {
            ASSERT_EQ(port.lines.size(), 1u);
            EXPECT_EQ(port.lines[0].second, c.message);
            const bool discarded = c.message.find("discarded") != std::string::npos;
            EXPECT_EQ(port.lines[0].first, discarded ? LogLevel::Trace : LogLevel::Error);
        }
        EXPECT_EQ(port.unread(), c.unread);
        EXPECT_EQ(port.expired, c.waitsForDeadline);
    }
}

TEST(ScanfEngine, ALiteralAwaitedPastTheDeadlineReportsAZeroByte) {
    FakeScanPort port("");
    EXPECT_EQ(ScanfEngine(port).run("A"), ActionResult::Error);
    ASSERT_EQ(port.lines.size(), 1u);
    EXPECT_EQ(port.lines[0].second, std::string("Incorrect character received at position 0 (Expected 'A' Got '") +
                                        '\0' + "')");
}

TEST(ScanfEngine, AnAbortSeenBetweenConversionsEndsTheScanAborted) {
    FakeScanPort port("5");
    port.abortWhenDrained = true;
    EXPECT_EQ(ScanfEngine(port).run("%d %d"), ActionResult::Aborted);
    EXPECT_EQ(port.values, std::vector<std::string>{"i:5"});
}

TEST(ScanfEngine, TheDeadlineBeforeTheEndOfTheFormatFails) {
    FakeScanPort port("5");
    EXPECT_EQ(ScanfEngine(port).run("%d %d"), ActionResult::Failed);
    EXPECT_EQ(port.values, std::vector<std::string>{"i:5"});
    EXPECT_TRUE(port.lines.empty());
}

TEST(ScanfEngine, ValuesBeforeAFailureStay) {
    FakeScanPort port("1 2 x");
    EXPECT_EQ(ScanfEngine(port).run("%d %d %d"), ActionResult::Failed);
    EXPECT_EQ(port.values, (std::vector<std::string>{"i:1", "i:2"}));
}

TEST(ScanfEngine, AWordEndsAtAReceivedZeroByte) {
    FakeScanPort port(std::string("ab\0cd ", 6));
    EXPECT_EQ(ScanfEngine(port).run("%s"), ActionResult::Passed);
    EXPECT_EQ(port.values, std::vector<std::string>{"s:ab"});
    EXPECT_EQ(port.unread(), " ");
}

TEST(ScanSetParser, MembersRangesAndEnd) {
    std::size_t end = 0;
    const std::string format = "%[^a-cx\\n]rest";
    const ScanSet set = parseScanSet(format, 1, end);
    EXPECT_TRUE(set.negated);
    EXPECT_EQ(end, format.find("rest"));
    for (const char member : {'a', 'b', 'c', 'x', '\n'}) EXPECT_FALSE(set.contains(static_cast<std::uint8_t>(member)));
    EXPECT_TRUE(set.contains('d'));
    EXPECT_EQ(set.members.count(), 5u);

    // Ranges compare as signed bytes: from 'A' down to byte 0xF0 (-16).
    const std::string falling = std::string("[A-") + static_cast<char>(0xF0) + "]";
    const ScanSet wide = parseScanSet(falling, 0, end);
    EXPECT_TRUE(wide.contains(0xF0));
    EXPECT_TRUE(wide.contains(0xFF));
    EXPECT_TRUE(wide.contains(0));
    EXPECT_TRUE(wide.contains('A'));
    EXPECT_FALSE(wide.contains('B'));
    EXPECT_FALSE(wide.contains(0x80));
}

} // namespace
