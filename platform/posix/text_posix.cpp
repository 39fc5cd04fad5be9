// 8-bit text is UTF-8 here. A byte that is not part of well-formed UTF-8
// (anything a device may send) becomes a lone low surrogate U+DC80..U+DCFF
// and converts back to the same byte, so received bytes survive the trip
// through a BSTR. Other lone surrogates become U+FFFD.
#include "platform/text.h"

#include "platform/utf8.h"

namespace platform {

namespace {
constexpr char32_t escapedByteBase = 0xDC00;
}

std::string narrowFromBstr(BSTR text) {
    std::string out;
    const UINT length = SysStringLen(text);
    out.reserve(length);
    for (UINT i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= escapedByteBase + 0x80 && c <= escapedByteBase + 0xFF) {
            out += static_cast<char>(c - escapedByteBase);
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = utf8::replacementCharacter;
        }
        utf8::append(out, c);
    }
    return out;
}

BSTR bstrFromNarrow(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const utf8::Sequence sequence = utf8::decode(text, i);
        if (!sequence.wellFormed) {
            // Every byte of a malformed sequence is 0x80 or above.
            for (std::size_t end = i + sequence.length; i < end; ++i)
                wide += static_cast<char16_t>(escapedByteBase + static_cast<unsigned char>(text[i]));
            continue;
        }
        i += sequence.length;
        const char32_t c = sequence.code;
        if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
    }
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

BSTR bstrFromPath(const std::filesystem::path& path) { return bstrFromNarrow(path.native()); }

} // namespace platform
