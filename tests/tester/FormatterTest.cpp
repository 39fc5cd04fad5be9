// The message formatter: escapes, conversions and how many values each
// format consumes.
#include "../support/Variants.h"
#include "tester/Tester.h"

#include <gtest/gtest.h>

namespace {

struct FormatCase {
    std::string format;
    std::vector<Value> values;
    std::string expected;
    std::uint32_t consumed;
};

std::string format(const std::vector<Value>& parameters, std::uint32_t* consumed) {
    std::vector<VARIANT> raw;
    for (const auto& v : parameters) raw.push_back(v.get());
    return Tester::formatParameters(static_cast<std::uint32_t>(raw.size()), raw.data(), consumed);
}

TEST(Formatter, FormatsTheTable) {
    using namespace std::string_literals;
    const FormatCase cases[] = {
        {R"(AT\r\n)", {}, "AT\r\n", 0},
        {R"(\x0G)", {}, "\0G"s, 0},
        {"%d-%s", {Value(42), Value("ab")}, "42-ab", 2},
        {"%d %d", {Value("ab")}, "? ?", 0},
        {"%5d/%d", {Value(7), Value(8)}, "    7/8", 2},
        {"%08.3g", {Value(3.14159)}, "    3.14", 1},
        {"%-5d", {Value(3)}, "%-5d", 0},
        {"%x", {Value(-1)}, "ffffffff", 1},
        {"%o", {Value(-1)}, "37777777777", 1},
        {"100%", {}, "100", 0},
        {R"(a\)", {}, "a", 0},
        {R"(\"q\1)", {}, "\"q1", 0},
        {R"(\0101\x4142)", {}, "AB", 0}, // digits keep coming: the byte is collected modulo 256
        {R"(\x\x41)", {}, "\0A"s, 0},
        {"%6x|%-", {Value(255)}, "    ff|%-", 1},
        {"%g|%.3g|%g", {Value(0.1), Value(2.0), Value(1234.5678)}, "0.1|2|1234.57", 3},
        {"%5s|%.1s", {Value("ab"), Value("xyz")}, "   ab|xyz", 2},
        {"%3c", {Value(1)}, "  %c", 0},
        {"%d", {}, "?", 0},
        {"%4d", {Value(2.0)}, "   ?", 0},
        {"%s%s", {Value("a")}, "a(null)", 1},
        {"%1.2.3g", {Value(1.0)}, "%.3g", 0},
        {"%%d", {Value(1)}, "%d", 0},
        {R"(%\n)", {}, "\n", 0},
        {"%8s|%3s", {Value(1)}, "  (null)|(null)", 0},
        {"%4294967301d", {Value(7)}, "    7", 1}, // width digits wrap at 32 bits
        {R"(\%d+)", {Value(4)}, "d%+", 0},       // % leaves a pending escape pending
        {R"(plain \x41BCtext\n%%%d tail)", {Value(3)}, "plain \xBCtext\n%3 tail", 1}, // runs between escapes
        {R"(%%%%%%\\\\x)", {}, "%%%\\\\x", 0},
    };
    for (const auto& c : cases) {
        std::vector<Value> parameters{Value(c.format)};
        parameters.insert(parameters.end(), c.values.begin(), c.values.end());
        std::uint32_t consumed = 99;
        EXPECT_EQ(format(parameters, &consumed), c.expected) << "format: " << c.format;
        EXPECT_EQ(consumed, c.consumed) << "format: " << c.format;
    }
}

TEST(Formatter, NeedsATextFirst) {
    std::uint32_t consumed = 99;
    EXPECT_EQ(format({Value(5), Value("x")}, &consumed), "");
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(Tester::formatParameters(0, nullptr, &consumed), "");
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(format({Value("no count wanted")}, nullptr), "no count wanted");
}

} // namespace
