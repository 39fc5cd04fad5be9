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
    text.reserve(text.size() + length + 16);
    // `shown` counts data bytes; `room` is what is left of the 255 characters
    // the data part may take once the chunk fills the line.
    int limit = static_cast<int>(length);
    int room = static_cast<int>(maxTraceBytes);
    for (int shown = 0; shown < limit;) {
        // A run of bytes shown as themselves goes in with one append.
        const int runStart = shown;
        while (shown < limit && data[shown] != '%' && !isShownAsHex(data[shown])) ++shown;
        text.append(reinterpret_cast<const char*>(data + runStart), static_cast<std::size_t>(shown - runStart));
        if (shown == limit) break;
        const std::uint8_t octet = data[shown++];
        if (octet == '%') {
            text += "%%";
            if (limit >= room) {
                --limit;
                --room;
            }
        } else {
            appendHexEscape(text, octet);
            if (limit >= room && limit >= 3) {
                limit -= 3;
                room -= 3;
            }
        }
    }
    return text;
}

bool appendLogText(std::string& text, const std::uint8_t* data, std::size_t length, std::string_view lineEnd) {
    bool endedLine = false;
    std::size_t i = 0;
    while (i < length) {
        // A run of bytes shown as themselves goes in with one append.
        const std::size_t runStart = i;
        while (i < length && !isShownAsHex(data[i])) ++i;
        text.append(reinterpret_cast<const char*>(data + runStart), i - runStart);
        if (i == length) break;
        const std::uint8_t octet = data[i];
        if (octet == '\n' || octet == '\r') {
            // The second byte of a CR LF or LF CR pair ends no further line.
            const std::uint8_t partner = octet == '\n' ? '\r' : '\n';
            if (i == 0 || data[i - 1] != partner) {
                text.append(lineEnd);
                endedLine = true;
            }
        } else {
            appendHexEscape(text, octet);
        }
        ++i;
    }
    return endedLine;
}
