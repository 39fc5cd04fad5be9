// Helpers shared by the fuzz targets: the input as text, cut in two at its
// first NUL byte where a parser takes a format (or definitions) and bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The part before the first NUL and the part after it; without a NUL the
// whole input is the first part and the second is empty.
inline std::pair<std::string_view, std::string_view> splitAtNul(std::string_view input) {
    const auto cut = input.find('\0');
    if (cut == std::string_view::npos) return {input, {}};
    return {input.substr(0, cut), input.substr(cut + 1)};
}

} // namespace fuzz
