// 8-bit text is UTF-8 here. A byte that is not part of well-formed UTF-8
// (anything a device may send) becomes a lone low surrogate U+DC80..U+DCFF
// and converts back to the same byte, so received bytes survive the trip
// through a BSTR. Other lone surrogates become U+FFFD.
//
// Runs of ASCII, most text by far, are tested and copied in blocks (whole
// words at once, loops the compiler vectorises); the first code unit
// outside ASCII goes through the full decoding, up to the next ASCII unit.
#include "platform/text.h"

#include "platform/utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform {

namespace {

constexpr char32_t escapedByteBase = 0xDC00;

// How many UTF-16 units at the start of `text` are ASCII. Whole 64-bit
// words are tested against the bits that lie above ASCII in each unit,
// four words at a time while the text lasts: cheap for a short text,
// and 16 units per step for a long one.
std::size_t asciiPrefix(const OLECHAR* text, std::size_t length) {
    constexpr std::uint64_t aboveAscii = 0xFF80FF80FF80FF80u;
    constexpr std::size_t unitsPerWord = sizeof(std::uint64_t) / sizeof(OLECHAR);
    const auto word = [text](std::size_t at) {
        std::uint64_t value;
        std::memcpy(&value, text + at, sizeof value);
        return value;
    };
    std::size_t at = 0;
    for (; at + 4 * unitsPerWord <= length; at += 4 * unitsPerWord) {
        const std::uint64_t bits =
            word(at) | word(at + unitsPerWord) | word(at + 2 * unitsPerWord) | word(at + 3 * unitsPerWord);
        if (bits & aboveAscii) break;
    }
    for (; at + unitsPerWord <= length; at += unitsPerWord)
        if (word(at) & aboveAscii) break;
    while (at < length && text[at] < 0x80) ++at;
    return at;
}

// Copies `length` ASCII code units to `to`, each into a unit of the target's width.
template <class From, class To>
void widenOrNarrow(const From* from, std::size_t length, To* to) {
    for (std::size_t k = 0; k < length; ++k) to[k] = static_cast<To>(from[k]);
}

// Widens the ASCII bytes at the start of `text` into `to` and returns how
// many there were: blocks of 32 are tested and copied by vectorised
// loops, the rest one by one.
std::size_t widenAscii(std::string_view text, char16_t* to) {
    constexpr std::size_t block = 32;
    std::size_t at = 0;
    for (; at + block <= text.size(); at += block) {
        unsigned char bits = 0;
        for (std::size_t k = 0; k < block; ++k) bits |= static_cast<unsigned char>(text[at + k]);
        if (bits >= 0x80) break;
        widenOrNarrow(text.data() + at, block, to + at);
    }
    for (; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x80) break;
        to[at] = byte;
    }
    return at;
}

// Appends the bytes of the code units that start at text[at] and are not
// ASCII; returns the index after what it took (one unit, or two for a
// surrogate pair).
UINT appendNonAscii(std::string& out, BSTR text, UINT at, UINT length) {
    char32_t c = text[at];
    if (c >= 0xD800 && c <= 0xDBFF && at + 1 < length && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
        utf8::append(out, 0x10000 + ((c - 0xD800) << 10) + (text[at + 1] - 0xDC00));
        return at + 2;
    }
    if (c >= escapedByteBase + 0x80 && c <= escapedByteBase + 0xFF) {
        out += static_cast<char>(c - escapedByteBase);
    } else {
        if (c >= 0xD800 && c <= 0xDFFF) c = utf8::replacementCharacter;
        utf8::append(out, c);
    }
    return at + 1;
}

// Writes the UTF-16 form of the sequence at text[at], which is not ASCII,
// to `to`; returns how many units it wrote and moves `at` past the sequence.
std::size_t writeNonAscii(std::string_view text, std::size_t& at, char16_t* to) {
    const utf8::Sequence sequence = utf8::decode(text, at);
    if (!sequence.wellFormed) {
        // Every byte of a malformed sequence is 0x80 or above.
        for (std::size_t k = 0; k < sequence.length; ++k)
            to[k] = static_cast<char16_t>(escapedByteBase + static_cast<unsigned char>(text[at + k]));
        at += sequence.length;
        return sequence.length;
    }
    at += sequence.length;
    const char32_t c = sequence.code;
    if (c < 0x10000) {
        to[0] = static_cast<char16_t>(c);
        return 1;
    }
    to[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    to[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    return 2;
}

} // namespace

std::string narrowFromBstr(BSTR text) {
    std::string out;
    const UINT length = SysStringLen(text);
    out.reserve(length);
    for (UINT at = 0; at < length;) {
        const auto run = static_cast<UINT>(asciiPrefix(text + at, length - at));
        const std::size_t end = out.size();
        out.resize(end + run);
        widenOrNarrow(text + at, run, out.data() + end);
        at += run;
        if (at < length) at = appendNonAscii(out, text, at, length);
    }
    return out;
}

BSTR bstrFromNarrow(std::string_view text) {
    // Mostly all ASCII: the BSTR is made in one allocation and filled in place.
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (!out) return nullptr;
    std::size_t at = widenAscii(text, out);
    if (at == text.size()) return out;
    SysFreeString(out);
    // No byte gives more than one UTF-16 unit, a 4-byte sequence two.
    std::u16string wide(text.size(), u'\0');
    std::size_t used = widenAscii(text, wide.data());
    while (at < text.size()) {
        used += writeNonAscii(text, at, wide.data() + used);
        const std::size_t run = widenAscii(text.substr(at), wide.data() + used);
        at += run;
        used += run;
    }
    return SysAllocStringLen(wide.data(), static_cast<UINT>(used));
}

BSTR bstrFromPath(const std::filesystem::path& path) { return bstrFromNarrow(path.native()); }

} // namespace platform
