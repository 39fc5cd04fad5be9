#include "serial/ByteText.h"

bool isShownAsHex(std::uint8_t octet) {
    return octet < 32 || octet >= 127 || octet == '<' || octet == '>';
}

void appendHexEscape(std::string& text, std::uint8_t octet) {
    static constexpr char digits[] = "0123456789abcdef";
    text += '<';
    text += digits[octet >> 4];
    text += digits[octet & 0x0F];
    text += '>';
}

std::string escapedBytes(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto octet = static_cast<std::uint8_t>(c);
        if (isShownAsHex(octet))
            appendHexEscape(text, octet);
        else
            text += c;
    }
    return text;
}

std::string traceLineFormat(const char* prefix, const std::uint8_t* data, std::uint32_t length) {
    std::string text(prefix);
    // `shown` counts data bytes; `room` is what is left of the 255 characters
    // the data part may take once the chunk fills the line.
    int limit = static_cast<int>(length);
    int room = static_cast<int>(maxTraceBytes);
    for (int shown = 0; shown < limit; ++shown) {
        const std::uint8_t octet = data[shown];
        if (octet == '%') {
            text += "%%";
            if (limit >= room) {
                --limit;
                --room;
            }
        } else if (isShownAsHex(octet)) {
            appendHexEscape(text, octet);
            if (limit >= room && limit >= 3) {
                limit -= 3;
                room -= 3;
            }
        } else {
            text += static_cast<char>(octet);
        }
    }
    return text;
}
