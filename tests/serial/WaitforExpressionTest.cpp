// The waitfor language on its own: parsing, the canonical form, evaluation
// and the sliding window.
#include "serial/Waitfor.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

WaitforExpression parsed(const std::string& text) {
    auto expression = WaitforExpression::parse(text);
    EXPECT_TRUE(expression.has_value()) << text;
    return expression ? *expression : *WaitforExpression::parse("x");
}

void feed(WaitforExpression& expression, const std::string& bytes, std::vector<std::string>* seen = nullptr) {
    for (const char c : bytes)
        expression.consume(static_cast<std::uint8_t>(c), [&](std::string_view window) {
            if (seen) seen->emplace_back(window);
        });
}

struct DescribeCase {
    const char* text;
    const char* describe;
};

TEST(WaitforParse, ValidTextsAndTheirCanonicalForm) {
    const DescribeCase cases[] = {
        {"OK", "'OK'"},
        {"OK and NOT READY", "'OK and NOT READY'"}, // no quote: one literal, keywords included
        {"(x) or y", "'(x) or y'"},
        {"", "''"},
        {"'OK' or 'ERROR'", "'OK' or 'ERROR'"},
        {"'a' AND 'b'", "'a' and 'b'"},
        {"'a' And 'b'", "'a' and 'b'"},
        {"'a'or'b'", "'a' or 'b'"},
        {"\t'a'\tOR\t'b'", "'a' or 'b'"},
        {"'OK' or ( 'ERR' and not 'RETRY' )", "'OK' or ('ERR' and not 'RETRY')"},
        {"'a' and 'b' or 'c'", "'a' and ('b' or 'c')"},
        {"'a' or 'b' and 'c' or 'd'", "'a' or ('b' and ('c' or 'd'))"},
        {"not 'a'", "not 'a'"},
        {"NOT'a'", "not 'a'"},
        {"not ('a' or 'b')", "not ('a' or 'b')"},
        {"not 'a' and 'b'", "not 'a' and 'b'"},
        {"'a' and not 'b'", "'a' and not 'b'"},
        {"not ('a') and 'b'", "not 'a' and 'b'"},
        {"'a' and ('b' or 'c')", "'a' and ('b' or 'c')"},
        {"('a' or 'b') and 'c'", "'a' or 'b'"},   // the first group sets the depth; the rest is passed over
        {"'a' and ('b') or 'c'", "'a' and 'b'"},  // a right operand that starts with a group ends with it
        {"'a' 'b'", "'a'"},                       // a further text without an operator is passed over
        {"'a' not 'b'", "'a'"},
        {"'not' or 'and'", "'not' or 'and'"},
        {"'it\\'s'", "'it\\'s'"},                 // the backslash stays in the text
        {"'a(b)c'", "'a(b)c'"},
        {"''", "''"},
        {"'a' and not", "'a' and "},              // a trailing not has no operand
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto expression = WaitforExpression::parse(c.text);
        ASSERT_TRUE(expression.has_value());
        EXPECT_EQ(expression->describe(), c.describe);
    }
}

TEST(WaitforParse, InvalidTexts) {
    const char* const cases[] = {
        "'",              // a lone quote
        "'open",          // a quote open at the end leaves no element
        "'a' or",         // operator without right operand
        "'a' and",
        "or 'a'",         // operator without left operand
        "'a' and or 'b'",
        "('a'",           // unbalanced
        "('a' or 'b'",
        ")'a'(",          // closing before opening
        "'a' or 'b')",
        "'a' x",          // unquoted word
        "'a' nor 'b'",
        "'a' o 'b'",
        "not not 'a'",
        "not 'a' or",
        "'a' and ( or 'b')",
        "()'",
    };
    for (const char* text : cases) EXPECT_FALSE(WaitforExpression::parse(text).has_value()) << text;
}

TEST(WaitforParse, ElementsKeepTextOrderKindsAndDepths) {
    const auto expression = parsed("'OK' or ( 'ERR' and not 'RETRY' )");
    const auto& e = expression.elements();
    ASSERT_EQ(e.size(), 6u);
    const WaitforKind kinds[] = {WaitforKind::Text, WaitforKind::Or, WaitforKind::Text,
                                 WaitforKind::And, WaitforKind::Not, WaitforKind::Text};
    const std::uint32_t depths[] = {0, 0, 1, 1, 1, 1};
    const char* texts[] = {"OK", "or", "ERR", "and", "not", "RETRY"};
    for (std::size_t i = 0; i < e.size(); ++i) {
        EXPECT_EQ(e[i].kind, kinds[i]) << i;
        EXPECT_EQ(e[i].depth, depths[i]) << i;
        EXPECT_EQ(e[i].text, texts[i]) << i;
        EXPECT_FALSE(e[i].seen);
    }
    EXPECT_EQ(e[1].first, 0u);
    EXPECT_EQ(e[1].second, 3u);
    EXPECT_EQ(e[3].first, 2u);
    EXPECT_EQ(e[3].second, 4u);
    EXPECT_EQ(e[4].first, 5u);
}

TEST(WaitforParse, LongChainsAreFineButRunawayNestingIsRefused) {
    std::string chain = "'x0'";
    for (int i = 1; i < 5000; ++i) chain += " or 'x" + std::to_string(i) + "'";
    auto expression = WaitforExpression::parse(chain);
    ASSERT_TRUE(expression.has_value());
    EXPECT_FALSE(expression->evaluate(false));
    feed(*expression, "x4999");
    EXPECT_TRUE(expression->evaluate(false));
    EXPECT_EQ(expression->describe().substr(0, 17), "'x0' or ('x1' or ");

    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "not (";
    deep += "'a'" + std::string(5000, ')');
    EXPECT_FALSE(WaitforExpression::parse(deep).has_value());

    // Deep parentheses around a single text need no nesting of the tree.
    EXPECT_TRUE(WaitforExpression::parse(std::string(5000, '(') + "'a'" + std::string(5000, ')')).has_value());
}

struct EvaluateCase {
    const char* text;
    const char* received;
    bool duringWait;
    bool atTheEnd;
};

TEST(WaitforEvaluate, Table) {
    const EvaluateCase cases[] = {
        {"'OK' or 'ERROR'", "xxERRORyy", true, true},
        {"'OK' or 'ERROR'", "xxERRyy", false, false},
        {"'A' and 'B'", "B......A", true, true},
        {"'A' and 'B'", "AAAA", false, false},
        {"'OK' and not 'ERROR'", "OK", false, true},
        {"'OK' and not 'ERROR'", "OK ERROR", false, false},
        {"not 'a'", "", false, true},
        {"not 'a'", "bab", false, false},
        {"'ABC'", "ABABC", true, true},
        {"'AAB'", "AAAB", true, true},
        {"'abcabd'", "abcabcabd", true, true},
        {"'OK and NOT READY'", "OK and NOT READY", true, true},
        {"OK and NOT READY", "OK and NOT READY", true, true},
        {"OK and NOT READY", "OK", false, false},
        {"''", "anything", false, false},
        {"not ('a' or 'b')", "b", false, false},
        {"not ('a' or 'b')", "c", false, true},
        {"'x' or not 'y'", "", false, true},
        {"'a' and 'b' or 'c'", "ac", true, true},
        {"'a' and 'b' or 'c'", "c", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " <- " + c.received);
        auto expression = parsed(c.text);
        feed(expression, c.received);
        EXPECT_EQ(expression.evaluate(false), c.duringWait);
        EXPECT_EQ(expression.evaluate(true), c.atTheEnd);
    }
}

struct WindowCase {
    const char* text;
    const char* window;
    std::size_t unneeded;
    bool seen;
};

TEST(WaitforWindow, MatchTextTable) {
    const WindowCase cases[] = {
        {"'ABC'", "", 0, false},
        {"'ABC'", "A", 0, false},
        {"'ABC'", "AB", 0, false},
        {"'ABC'", "ABA", 2, false},  // the second A may start the text
        {"'ABC'", "ABC", 3, true},
        {"'ABC'", "xABC", 4, true},
        {"'ABC'", "X", 1, false},
        {"'ABC'", "ABCD", 4, false},
        {"'ABC'", "xxAB", 2, false},
        {"''", "A", 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.window);
        auto expression = parsed(c.text);
        std::string seenWindow;
        EXPECT_EQ(expression.matchText(0, c.window, [&](std::string_view w) { seenWindow = w; }), c.unneeded);
        EXPECT_EQ(expression.elements()[0].seen, c.seen);
        EXPECT_EQ(seenWindow, c.seen ? std::string(c.window) : std::string());
    }
    auto expression = parsed("'a' or 'b'");
    EXPECT_EQ(expression.matchText(1, "zz"), 2u); // operators need nothing
}

TEST(WaitforWindow, KeepsTheLongestTailAnyTextStillNeeds) {
    auto expression = parsed("'ABCD' or 'XY'");
    feed(expression, "ABC");
    EXPECT_EQ(expression.window(), "ABC");
    feed(expression, "X");
    EXPECT_EQ(expression.window(), "X");
    feed(expression, "Y");
    EXPECT_EQ(expression.window(), "");
    EXPECT_TRUE(expression.evaluate(false));
}

TEST(WaitforWindow, ASeenTextIsStillSearchedAndReportedAgain) {
    auto expression = parsed("'AB' and 'C'");
    std::vector<std::string> seen;
    feed(expression, "xAB", &seen);
    feed(expression, "AB", &seen);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "AB");
    EXPECT_EQ(seen[1], "AB");
    EXPECT_FALSE(expression.evaluate(false));
}

TEST(WaitforWindow, StaysWithinTheLongestTextThroughMegabytesOfNoise) {
    auto expression = parsed("'NEEDLE' or 'HAY' or not 'ZZ'");
    std::mt19937 random(7);
    // Letters that cannot complete a text after a near miss (no E, Y or Z).
    const std::string letters = "ABCDFGHIJKLMNOPQRSTUVWX";
    std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1);
    const std::string nearMisses[] = {"NEEDL", "NEE", "HA", "NNEEDNEEDL", "Z", "HAHAH"};
    std::string noise;
    for (int i = 0; i < 4 * 1024 * 1024; ++i) {
        if (i % 97 == 0) noise += nearMisses[static_cast<std::size_t>(i / 97) % std::size(nearMisses)];
        noise += letters[letter(random)];
    }
    feed(expression, noise);
    EXPECT_FALSE(expression.evaluate(false));
    EXPECT_LE(expression.largestWindow(), std::string("NEEDLE").size());
    feed(expression, "NEEDLE");
    EXPECT_TRUE(expression.evaluate(false));
    EXPECT_LE(expression.largestWindow(), std::string("NEEDLE").size());
}

} // namespace
