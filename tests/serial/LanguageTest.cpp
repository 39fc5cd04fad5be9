// The waitfor and scanf languages and the traffic-line text on their own.
#include "serial/ByteText.h"
#include "serial/Scanf.h"
#include "serial/Waitfor.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// A scan port over fixed bytes, handed out in runs of `runLength`. When
// they run out the wait ends, and the port gives nothing from then on.
class BytesPort final : public ScanPort {
public:
    explicit BytesPort(std::string bytes, std::size_t run = 3) : input(std::move(bytes)), runLength(run) {}
    std::span<const std::uint8_t> awaitBytes() override {
        if (expired || abortedByHost) return ++readsAfterStop, std::span<const std::uint8_t>();
        if (position >= input.size()) return (abortAtEnd ? abortedByHost : expired) = true, std::span<const std::uint8_t>();
        return bytesAtHand();
    }
    std::span<const std::uint8_t> bytesAtHand() override {
        const auto* const data = reinterpret_cast<const std::uint8_t*>(input.data());
        return {data + position, std::min(runLength, input.size() - position)};
    }
    void consumeBytes(std::size_t count) override {
        position += count;
        if (count > 0 && stopAfterLastByte && position == input.size()) (abortAtEnd ? abortedByHost : expired) = true;
    }
    bool timedOut() const override { return expired; }
    bool aborted() const override { return abortedByHost; }
    bool linkOpen() const override { return true; }
    void deliver(std::int32_t value) override { values.append("i").append(std::to_string(value)).append(" "); }
    void deliver(double value) override { values.append("d").append((std::ostringstream() << value).str()).append(" "); }
    void deliver(const std::string& value) override { values.append("s").append(value).append(" "); }
    void report(LogLevel level, const std::string& line) override {
        lines.append(lines.empty() ? "" : "|").append(level == LogLevel::Trace ? "T:" : "E:").append(line);
    }
    std::string unread() const { return input.substr(position); }

    std::string input;
    std::string values; // "i12 d1.5 sabc "
    std::string lines; // "E:" error or "T:" trace lines, joined by '|'
    std::size_t position = 0;
    bool expired = false;
    bool abortedByHost = false;
    bool abortAtEnd = false; // the host aborts rather than the deadline passing
    bool stopAfterLastByte = false; // the wait ends as soon as the last byte is taken
    long readsAfterStop = 0; // how often the scan asked again once the wait had ended
    std::size_t runLength;
};

constexpr auto P = ActionResult::Passed, F = ActionResult::Failed, E = ActionResult::Error;

struct ScanCase {
    const char* format;
    std::string received;
    ActionResult result;
    const char* values;
    const char* lines;
    const char* unread;
    bool waitsForDeadline;
};

TEST(Scanf, Conversions) {
    const ScanCase cases[] = {
        {"%d,%d", " 12,-7\r", P, "i12 i-7 ", "", "\r", false},
        {"%d", "4294967297 ", P, "i1 ", "", " ", false}, // 32-bit arithmetic wraps
        {"%d", "12", P, "i12 ", "", "", true},            // the number could go on
        {"%d", "", F, "", "E:Invalid decimal number received", "", true},
        {"%d", "-x", F, "", "E:Invalid decimal number received", "x", false},
        {"%2d", "123 ", P, "i123 ", "", " ", false},      // widths are for scan sets only
        {"%u", "+4294967295 ", P, "i-1 ", "", " ", false},
        {"%u", "-1", F, "", "E:Invalid unsigned decimal number received", "-1", false},
        {"%o", "178 ", P, "i15 ", "", "8 ", false},
        {"%x", "1aF ", P, "i431 ", "", " ", false},
        {"%x", "0x1F", P, "i0 ", "", "x1F", false},
        {"%x", "g", F, "", "E:Invalid hex number received", "g", false},
        {"V=%f", "V=1.5e3 ", P, "d1500 ", "", " ", false},
        {"%g;%e;%E;%G", "-.5;3;1e-2;+2.", P, "d-0.5 d3 d0.01 d2 ", "", "", true},
        {"%f", "2e;", P, "d2 ", "", ";", false},
        {"%f", ".e5;", F, "", "E:Invalid float received .e5", ";", false},
        {"%s", "  hello world", P, "shello ", "", " world", false},
        {"%3s", "abcd\t", P, "sabcd ", "", "\t", false},
        {"%s", "", F, "", "E:Blank string received", "", true},
        {"%s", std::string("ab\0c ", 5), P, "sab ", "", " ", false}, // texts end at a 0 byte
        {"%2[0-9]", "123", P, "s12 ", "", "3", false},
        {"%[^,]%d", "abc,5 ", P, "sabc i5 ", "", " ", false},        // the set's end byte is consumed
        {"%[^,],%d", "abc,5", E, "sabc ", "E:Incorrect character received at position 5 (Expected ',' Got '5')", "", false},
        {"%[c-a]", "cbad", P, "scba ", "", "", false},               // a falling range
        {"%[a-z]", "abc", P, "sabc ", "", "", true},
        {"%3[a-z]", "abc", P, "sabc ", "", "", false},      // the width ends it before the deadline
        {"%[]", "a", F, "", "E:Blank string received", "", false},   // an empty set
        {"%[^]", "a b", P, "sa b ", "", "", true},
        {"%[a\\-z]", "z-ab", P, "sz-a ", "", "", false},             // an escaped '-' is a member
        {"%[-a\\]]", "-a]b", P, "s-a] ", "", "", false},
        {"%[\\\\\\n\\t\\\"\\']", "\\\n\t\"'x", P, "s\\\n\t\"' ", "", "", false},
        {"%[0-9", "42a", P, "s42 ", "", "", false},                  // not closed: ends with the format
        {"%*d %s", "42 abc ", P, "sabc ", "T:Dec value 42 discarded", " ", false},
        {"%*u;%*o;%*x;%*f", "7;17;ff;2.5;", P, "",
         "T:Unsigned value 7 discarded|T:Oct value 17 discarded|T:Hex value FF discarded|T:Double value 2.5 discarded", ";", false},
        {"%*[a-z]%d", "abc 1 ", P, "i1 ", "T:String value \"abc\" discarded", " ", false}, // '*' is per conversion
        {"100%%", "100%", P, "", "", "", false},
        {"%%", "x", F, "", "", "", false},
        {"%X", "1", E, "", "E:Invalid format statement at position 1", "1", false},
        {"A", "B", E, "", "E:Incorrect character received at position 0 (Expected 'A' Got 'B')", "", false},
        {"A", " \r\n\tA", P, "", "", "", false},
        {"OK\\r\\n%d", "OK\r\n42\r", P, "i42 ", "", "\r", false},
        {"OK\r\n%d", "OK42 ", P, "i42 ", "", " ", false}, // line-end bytes in the format match nothing too
        {"a\\q", "a", E, "", "E:Only \\n, \\t or \\r allowed", "", false},
        {"%d ", "5", F, "i5 ", "", "", true}, // the deadline ends the number, then the scan
        {"", "abc", P, "", "", "abc", false},
    };
    for (const auto& c : cases) for (const std::size_t runLength : {1, 3, 64}) {
        SCOPED_TRACE(testing::Message() << "format '" << c.format << "' received '" << c.received << "' in runs of "
                                        << runLength);
        BytesPort port(c.received, runLength);
        EXPECT_EQ(ScanfEngine(port).run(c.format), c.result);
        EXPECT_EQ(port.values, c.values);
        EXPECT_EQ(port.lines, c.lines);
        EXPECT_EQ(port.unread(), c.unread);
        EXPECT_EQ(port.expired, c.waitsForDeadline);
        EXPECT_LT(port.readsAfterStop, 64); // once the wait ends, the scan winds up
    }
}

TEST(Scanf, HowAWaitEnds) {
    // (A literal awaited past the deadline: SerialTesterTest.cpp.)
    BytesPort abort("5"); // an abort seen between conversions ends the scan Aborted
    abort.abortAtEnd = true;
    EXPECT_EQ(ScanfEngine(abort).run("%d %d"), ActionResult::Aborted);
    EXPECT_EQ(abort.values, "i5 ");
    // A blank dropped before a literal: the next try comes after the
    // deadline check, so the scan just ends Failed.
    BytesPort blank(" ");
    blank.stopAfterLastByte = true;
    EXPECT_EQ(ScanfEngine(blank).run("A"), F);
    EXPECT_TRUE(blank.lines.empty());
}

TEST(Scanf, SetRangesCompareAsSignedBytes) {
    std::size_t end = 0;
    const ScanSet set = parseScanSet(std::string("[A-") + '\xF0' + "]x", 0, end); // 'A' down to -16
    EXPECT_EQ(end, 5u);
    for (int b : {0xF0, 0xFF, 0, int{'A'}}) EXPECT_TRUE(set.contains(static_cast<std::uint8_t>(b))) << b;
    for (int b : {0x80, int{'B'}}) EXPECT_FALSE(set.contains(static_cast<std::uint8_t>(b))) << b;
}

TEST(Waitfor, ParseAndDescribe) {
    const std::pair<const char*, const char*> cases[] = { // text, canonical form (null: invalid)
        {"OK and NOT READY", "'OK and NOT READY'"}, // no quote: one literal
        {"", "''"},
        {"'a' AND 'b'", "'a' and 'b'"},
        {"\t'a'or'b'", "'a' or 'b'"},
        {"'OK' or ( 'ERR' and not 'RETRY' )", "'OK' or ('ERR' and not 'RETRY')"},
        {"'a' and 'b' or 'c'", "'a' and ('b' or 'c')"},
        {"NOT'a' and 'b'", "not 'a' and 'b'"},
        {"not ('a' or 'b')", "not ('a' or 'b')"},
        {"not (not 'a')", "not (not 'a')"},      // only a text stands bare after "not"
        {"not ('a')", "not 'a'"},
        {"('a' or 'b') and 'c'", "'a' or 'b'"},  // a leading group sets the depth; the rest is passed over
        {"'a' and ('b') or 'c'", "'a' and 'b'"}, // a right operand that starts with a group ends with it
        {"'a' 'b'", "'a'"},                      // a text after a complete operand is passed over
        {"'it\\'s'", "'it\\'s'"},                // the backslash stays in the text
        {"'a' and not", "'a' and "},
        {"'", nullptr}, {"'open", nullptr}, {"'a' or", nullptr}, {"or 'a'", nullptr}, {"'a' and or 'b'", nullptr},
        {"('a'", nullptr}, {")'a'(", nullptr}, {"'a' or 'b')", nullptr}, {"'a' x", nullptr}, {"'a' nor 'b'", nullptr},
        {"not not 'a'", nullptr}, {"'a' and ( or 'b')", nullptr},
    };
    for (const auto& [text, canonical] : cases) {
        const auto expression = WaitforExpression::parse(text);
        EXPECT_EQ(expression.has_value(), canonical != nullptr) << text;
        if (expression && canonical) {
            EXPECT_EQ(expression->describe(), canonical) << text;
            const auto again = WaitforExpression::parse(canonical); // the canonical form reads back as itself
            EXPECT_TRUE(!again || again->describe() == canonical) << text;
        }
    }
    std::string chain = "'x'"; // long chains are fine; runaway nesting is refused
    for (int i = 0; i < 5000; ++i) chain += " or 'y'";
    EXPECT_TRUE(WaitforExpression::parse(chain).has_value());
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "not (";
    EXPECT_FALSE(WaitforExpression::parse(deep + "'a'" + std::string(5000, ')')).has_value());
}

// What each find shows (the whole window at that byte), where the taking
// stops, what the window keeps and what the condition reads while bytes come
// and at the deadline, however the bytes are split into runs.
TEST(Waitfor, FindsWindowsAndEvaluates) {
    const struct { const char* text; std::string_view received; const char* seen; std::size_t taken; const char* window;
                   bool during, atEnd; } cases[] = {
        {"'ABC'", "xABABCyy", "ABC", 6, "", true, true},
        {"'OK' or 'ERROR'", "xxERRORyy", "ERROR", 7, "", true, true},
        {"'ABCD' or 'XY'", "ABCX", "", 4, "X", false, false},
        {"'HELLO'", "..HELxHEL", "", 9, "HEL", false, false},
        // A found text starts again from what the window keeps for the others...
        {"'AA' and 'AAAX'", "AAAAX", "AA|AAA|AAAA|AAAX", 5, "", true, true},
        // ...and from nothing when no other text needs it.
        {"'AA' and 'Z'", "AAAAZ", "AA|AA|Z", 5, "", true, true},
        {"'b' and 'b'", "ab", "b|b", 2, "", true, true},
        {"'abcabd' and 'x'", "abcabcabdx", "abcabd|x", 10, "", true, true},
        {"''", "abc", "", 3, "", false, false},
        {"'A' and 'B'", "B.A", "B|A", 3, "", true, true},
        {"'A' and 'B'", "AAAA", "A|A|A|A", 4, "", false, false},
        {"'OK' and not 'ERROR'", "OK", "OK", 2, "", false, true},
        {"'OK' and not 'ERROR'", "ERROR OK", "ERROR|OK", 8, "", false, false},
        {"not ('a' or 'b')", "c", "", 1, "", false, true},
        {"OK and NOT READY", "OK", "", 2, "OK", false, false},
        {"'a' and 'b' or 'c'", "ac", "a|c", 2, "", true, true},
        {"'a' and 'b' or 'c'", "c", "c", 1, "", false, false},
    };
    for (const auto& c : cases) for (const std::size_t runLength : {1, 2, 100}) {
        auto expression = *WaitforExpression::parse(c.text);
        std::string seen;
        const auto onSeen = [&](std::string_view window) { seen.append(seen.empty() ? "" : "|").append(window); };
        const auto* const data = reinterpret_cast<const std::uint8_t*>(c.received.data());
        std::size_t taken = 0; // as chunks arrive, until the condition holds
        for (std::size_t at = 0; at < c.received.size(); at += runLength) {
            const std::size_t length = std::min(runLength, c.received.size() - at);
            const std::size_t consumed = expression.consume({data + at, length}, onSeen);
            taken += consumed;
            if (consumed < length || expression.evaluate(false)) break;
        }
        SCOPED_TRACE(testing::Message() << c.text << " <- " << c.received << " in runs of " << runLength);
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(expression.window(), c.window);
        EXPECT_EQ(expression.evaluate(false), c.during);
        EXPECT_EQ(expression.evaluate(true), c.atEnd);
    }
}

TEST(ByteText, TraceLines) {
    const auto trace = [](const std::string& bytes) {
        return traceLineFormat("Rx:", reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               static_cast<std::uint32_t>(bytes.size()));
    };
    EXPECT_EQ(escapedBytes(std::string("A<B>\r\x7f\xff%\0", 9)), "A<3c>B<3e><0d><7f><ff>%<00>");
    EXPECT_EQ(trace("50%\r\n"), "Rx:50%%<0d><0a>");
    EXPECT_EQ(trace(std::string("\x01%").append(252, 'A')), std::string("Rx:<01>%%").append(252, 'A')); // 254 bytes: whole
    // From 255 bytes on every expansion shortens the shown part.
    EXPECT_EQ(trace(std::string("%").append(254, 'A')), std::string("Rx:%%").append(253, 'A'));
    EXPECT_EQ(trace(std::string("\x02").append(254, 'A')), std::string("Rx:<02>").append(251, 'A'));
}

} // namespace
