// Reading a script file into the text sent to the proxy: its lines joined
// by "\n", line ends CR LF or LF alike.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace proxy {

// The longest line taken whole; a line this long or longer ends the text
// with its first maxScriptLineLength characters.
inline constexpr std::size_t maxScriptLineLength = 2047;

// Lines are read until the end of the file, and each is appended after a
// "\n" unless the text is still empty, so a file that ends with a line end
// gives a text that ends with "\n", and an empty file an empty text.
std::string readScriptText(std::FILE* file);

} // namespace proxy
