// Text beyond ASCII between UTF-8 and BSTRs, where 8-bit text is UTF-8:
// characters outside the basic plane as surrogate pairs, bytes that are not
// UTF-8 as escapes that convert back to the same bytes, and other lone
// surrogates as U+FFFD.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string wideOf(const std::string& narrow) {
    BSTR text = platform::bstrFromNarrow(narrow);
    std::u16string wide(text, SysStringLen(text));
    SysFreeString(text);
    return wide;
}

std::string narrowOf(const std::u16string& wide) {
    BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    std::string narrow = platform::narrowFromBstr(text);
    SysFreeString(text);
    return narrow;
}

const std::string replacement = "\xEF\xBF\xBD";

TEST(TextConversion, WellFormedTextGoesBothWays) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC", u"caf\u00E9 \u20AC"},
        {"\xF0\x9F\x98\x80!", u"\U0001F600!"}, // 4 bytes: a surrogate pair
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},   // the last code point
        {"\xF0\x90\x80\x80", u"\U00010000"},   // the first beyond the basic plane
        {"\xEF\xBF\xBD", u"\uFFFD"},
    };
    for (const auto& [narrow, wide] : cases) {
        EXPECT_EQ(wideOf(narrow), wide) << narrow;
        EXPECT_EQ(narrowOf(wide), narrow) << narrow;
    }
}

TEST(TextConversion, BytesThatAreNotUtf8ComeBackUnchanged) {
    const std::pair<std::string, std::u16string> cases[] = {
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
    // Every byte value, alone and all in a row.
    std::string all;
    for (int value = 0; value < 256; ++value) {
        const std::string one(1, static_cast<char>(value));
        EXPECT_EQ(narrowOf(wideOf(one)), one) << value;
        all += one;
    }
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

} // namespace
