#include "proxy/ProxyMessages.h"

#include <array>
#include <cstring>
#include <utility>

namespace proxy {

namespace {

constexpr std::uint32_t lengthFieldSize = 4;
constexpr std::string_view logPrefix = "log:";

std::uint32_t readBigEndian(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           std::uint32_t{bytes[3]};
}

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// Leading white space, an optional sign, then digits; the number wraps at
// 32 bits as the level's unsigned type does.
std::uint32_t decimalPrefix(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
    return negative ? 0u - value : value;
}

} // namespace

std::vector<std::string> splitUnits(const std::uint8_t* data, std::uint32_t length) {
    std::vector<std::string> messages;
    std::uint32_t remaining = length;
    while (remaining > lengthFieldSize) {
        std::uint32_t textLength = readBigEndian(data);
        data += lengthFieldSize;
        remaining -= lengthFieldSize;
        if (textLength > remaining) textLength = remaining;
        remaining -= textLength;
        const auto* text = reinterpret_cast<const char*>(data);
        const void* nul = std::memchr(text, '\0', textLength);
        messages.emplace_back(text, nul ? static_cast<const char*>(nul) - text : textLength);
        data += textLength;
    }
    return messages;
}

std::optional<RemoteLogLine> remoteLogLine(std::string_view message) {
    if (message.substr(0, logPrefix.size()) != logPrefix) return std::nullopt;
    const std::string_view rest = message.substr(logPrefix.size());
    RemoteLogLine line;
    line.level = decimalPrefix(rest);
    if (rest.size() > 1) line.text.assign(rest.substr(1));
    return line;
}

std::optional<ActionResult> resultWord(std::string_view message) {
    static constexpr std::array<std::pair<std::string_view, ActionResult>, 4> words{{
        {"passed", ActionResult::Passed},
        {"failed", ActionResult::Failed},
        {"warning", ActionResult::Warning},
        {"error", ActionResult::Error},
    }};
    for (const auto& [word, result] : words)
        if (equalsIgnoringAsciiCase(message, word)) return result;
    return std::nullopt;
}

} // namespace proxy
