// UTF-8 sequences read and written as plain logic, with no system call, so
// that both builds share one reading of what is well-formed: the Linux text
// conversions and our host's JUnit report use it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::utf8 {

inline constexpr char32_t replacementCharacter = 0xFFFD;

// One sequence read from a text.
struct Sequence {
    char32_t code = 0;       // the code point; meaningful only when wellFormed
    std::size_t length = 1;  // the bytes it takes (see decode)
    bool wellFormed = false; // shortest form, at most U+10FFFF, not a surrogate
};

// Reads the sequence that starts at text[at] (at < text.size()). A
// malformed sequence takes its lead byte and the continuation bytes that
// follow it, up to the length the lead byte announces; a byte that cannot
// start a sequence takes itself alone.
Sequence decode(std::string_view text, std::size_t at);

// Appends the UTF-8 form of a code point (at most U+10FFFF).
void append(std::string& out, char32_t code);

} // namespace platform::utf8
