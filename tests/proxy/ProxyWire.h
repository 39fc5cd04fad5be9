// Building what a script proxy sends: length-prefixed units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One unit announcing `announced` bytes (the text's own length by default).
inline std::string unit(std::string_view text, std::uint32_t announced = UINT32_MAX) {
    const std::uint32_t length = announced == UINT32_MAX ? static_cast<std::uint32_t>(text.size()) : announced;
    std::string bytes{static_cast<char>(length >> 24), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
                      static_cast<char>(length)};
    return bytes.append(text);
}
