#include "platform/utf8.h"

namespace platform::utf8 {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

} // namespace

Sequence decode(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1, true};
    std::size_t more = 0;
    char32_t code = 0;
    char32_t smallest = 0; // below it the form is over-long
    if ((lead & 0xE0) == 0xC0) {
        more = 1, code = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2, code = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3, code = lead & 0x07, smallest = 0x10000;
    } else {
        return {}; // a continuation byte or a lead byte no character uses
    }
    Sequence sequence{0, 1, false};
    for (; sequence.length <= more; ++sequence.length) {
        const std::size_t next = at + sequence.length;
        if (next >= text.size() || !isContinuation(static_cast<unsigned char>(text[next]))) return sequence;
        code = (code << 6) | (static_cast<unsigned char>(text[next]) & 0x3F);
    }
    sequence.code = code;
    sequence.wellFormed = code >= smallest && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    return sequence;
}

void append(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace platform::utf8
