// How received and transmitted bytes are shown in log lines: printable
// bytes as themselves, everything else (and the angle brackets that mark
// an escape) as '<hh>'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Control bytes, 127 and above, '<' and '>' are shown as '<hh>'.
bool isShownAsHex(std::uint8_t octet);

// Appends '<', the byte as two lower-case hexadecimal digits, '>'.
void appendHexEscape(std::string& text, std::uint8_t octet);

// The bytes with every byte that isShownAsHex escaped; '%' stays as it is.
std::string escapedBytes(std::string_view bytes);

// A traffic line ("Rx:" or "Tx:" and the shown bytes) for use as a log
// format: '%' is doubled, and for chunks of 255 bytes or more every
// expansion shortens the shown part so the data part stays at 255
// characters. `length` must be at most maxTraceBytes.
inline constexpr std::uint32_t maxTraceBytes = 255;
std::string traceLineFormat(const char* prefix, const std::uint8_t* data, std::uint32_t length);

// Appends a received chunk as the text form of the received-data log file:
// printable bytes as themselves, every CR, LF, CR LF or LF CR within the
// chunk as one `lineEnd`, other bytes as '<hh>'. True when a line end was
// appended.
bool appendLogText(std::string& text, const std::uint8_t* data, std::size_t length, std::string_view lineEnd);
