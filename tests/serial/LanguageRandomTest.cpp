// Random waitfor texts and random scanf formats over random received bytes
// (fixed seeds): nothing crashes or hangs, and every outcome is one the
// languages define.
#include "FakeScanPort.h"

#include "serial/Waitfor.h"

#include "RandomText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

// Mostly the alphabet, now and then any byte at all.
std::string randomBytes(std::mt19937& random, const std::string& alphabet, std::size_t maxLength) {
    std::string bytes = randomText(random, alphabet, maxLength);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (char& c : bytes)
        if (anyByte(random) < 8) c = static_cast<char>(anyByte(random));
    return bytes;
}

TEST(WaitforRandom, ParsesEvaluatesDescribesAndBoundsTheWindow) {
    std::mt19937 random(20240601);
    const std::string textAlphabet = "''''()( )aAbnotNOTandANDorOR\\x \t";
    const std::string received = "abAB'ortx \\()";
    int valid = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomText(random, textAlphabet, 40);
        SCOPED_TRACE(text);
        auto expression = WaitforExpression::parse(text);
        if (!expression) continue;
        ++valid;
        const std::string canonical = expression->describe();
        // The canonical form, read again, describes itself.
        if (const auto again = WaitforExpression::parse(canonical)) {
            EXPECT_EQ(again->describe(), canonical);
        }

        std::size_t longest = 1; // the byte just taken is always held
        for (const auto& element : expression->elements())
            if (element.kind == WaitforKind::Text) longest = std::max(longest, element.text.size());
        for (const char c : randomBytes(random, received, 200)) {
            expression->consume(static_cast<std::uint8_t>(c));
            if (expression->evaluate(false)) {
                EXPECT_TRUE(expression->evaluate(true));
            }
        }
        EXPECT_LE(expression->largestWindow(), longest);
    }
    EXPECT_GT(valid, 1000); // the alphabet reaches the interesting parts
}

bool isDefinedMessage(const std::string& line) {
    static const char* const prefixes[] = {
        "Invalid decimal number received", "Invalid unsigned decimal number received",
        "Invalid octal number received", "Invalid hex number received", "Invalid float received ",
        "Blank string received", "Only \\n, \\t or \\r allowed", "Invalid format statement at position ",
        "Incorrect character received at position ", "Dec value ", "Unsigned value ", "Oct value ",
        "Hex value ", "Double value ", "String value \"",
    };
    return std::any_of(std::begin(prefixes), std::end(prefixes),
                       [&](const char* prefix) { return line.rfind(prefix, 0) == 0; });
}

TEST(ScanfRandom, EveryFormatEndsWithADefinedResult) {
    std::mt19937 random(987654321);
    const std::string formatAlphabet = "%%%%duoxfgeEGs[[]]^-*0123\\ntr ,;aXq.";
    const std::string received = "0123456789abcdefx+-.eE ,;]%\r\n\t";
    for (int round = 0; round < 20000; ++round) {
        const std::string format = randomText(random, formatAlphabet, 16);
        FakeScanPort port(randomBytes(random, received, 40));
        port.abortWhenDrained = round % 5 == 0;
        SCOPED_TRACE("format '" + format + "' received '" + port.input + "'");
        const ActionResult result = ScanfEngine(port).run(format);
        EXPECT_TRUE(result == ActionResult::Passed || result == ActionResult::Failed ||
                    result == ActionResult::Error || result == ActionResult::Aborted);
        if (result == ActionResult::Aborted) {
            EXPECT_TRUE(port.abortedByHost);
        }
        // Once the wait has ended, the scan winds up instead of asking on.
        EXPECT_LT(port.readsAfterStop, 64);
        for (const auto& line : port.lines) EXPECT_TRUE(isDefinedMessage(line.second)) << line.second;
    }
}

} // namespace
