// Text between UTF-8 and BSTRs where 8-bit text is UTF-8: bytes that are
// not UTF-8 convert back unchanged, other lone surrogates become U+FFFD.
#include "platform/text.h"
#include "../support/WideText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string replacement = "\xEF\xBF\xBD";

TEST(TextConversion, TextGoesBothWaysAndBytesThatAreNotUtf8ComeBackUnchanged) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC", u"caf\u00E9 \u20AC"},
        {"\xF0\x9F\x98\x80!", u"\U0001F600!"}, // 4 bytes: a surrogate pair
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},   // the last code point
        {"\xF0\x90\x80\x80", u"\U00010000"},   // the first beyond the basic plane
        {"caf\xE9!", u"caf\xDCE9!"},                 // a Latin-1 byte
        {"\xC0\x80", u"\xDCC0\xDC80"},               // over-long
        {"a\xE2\x82", u"a\xDCE2\xDC82"},             // cut short by the end
        {"\xE2\x82\xE2\x82\xAC", u"\xDCE2\xDC82\u20AC"}, // cut short by the next sequence
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},     // an encoded surrogate
    };
    for (const auto& [narrow, wide] : cases) {
        EXPECT_EQ(wideOf(narrow), wide) << narrow;
        EXPECT_EQ(narrowOf(wide), narrow) << narrow;
    }
    std::string all; // every byte value in a row
    for (int value = 0; value < 256; ++value) all += static_cast<char>(value);
    EXPECT_EQ(narrowOf(wideOf(all)), all);
}

TEST(TextConversion, ALoneSurrogateBecomesTheReplacementCharacter) {
    const std::pair<std::u16string, std::string> cases[] = {
        {{0xD83D, u'a'}, replacement + "a"},              // high without its low half
        {{u'a', 0xD83D}, "a" + replacement},              // high at the end
        {{0xDE00}, replacement},                          // low alone, not an escaped byte
        {{0xDC41}, replacement},                          // the escape range holds bytes 0x80..0xFF only
        {{0xDE00, 0xD83D}, replacement + replacement},    // a pair in the wrong order
    };
    for (const auto& [wide, narrow] : cases) EXPECT_EQ(narrowOf(wide), narrow) << narrow;
}

TEST(TextConversion, ASequenceAnywhereInALongAsciiRunConvertsTheSame) {
    // ASCII is converted in blocks: a sequence before, inside, on and after
    // a block's edge must come out as it does alone.
    const std::pair<std::string, std::u16string> sequences[] = {
        {"\xC3\xA9", u"\u00E9"}, {"\xF0\x9F\x98\x80", u"\U0001F600"}, {"\xFF", u"\xDCFF"}};
    for (const std::size_t before : {0, 1, 7, 8, 15, 16, 31, 32, 33, 63, 64, 100}) {
        for (const auto& [narrow, wide] : sequences) {
            const std::string head(before, 'h'), tail(before % 40, 't');
            const std::u16string wideHead(head.begin(), head.end()), wideTail(tail.begin(), tail.end());
            EXPECT_EQ(wideOf(head + narrow + tail), wideHead + wide + wideTail) << before;
            EXPECT_EQ(narrowOf(wideHead + wide + wideTail), head + narrow + tail) << before;
        }
    }
}

} // namespace
