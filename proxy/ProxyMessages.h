// The messages a script proxy and its tester exchange, as bytes and texts
// only (nothing of COM here), so that tests and fuzzers use them alone.
//
// From the proxy, each received chunk is a run of units: a 4-byte big-endian
// length, then that many bytes of text. Units never span chunks.
#pragma once

#include "quillon/ActionResult.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace proxy {

// The messages of one received chunk, in order. A chunk of 4 bytes or
// fewer, and a tail of 1 to 4 bytes, hold none; a unit whose length runs
// past the chunk yields what is there. A text ends at its first NUL byte,
// as every comparison of a message reads it.
std::vector<std::string> splitUnits(const std::uint8_t* data, std::uint32_t length);

// A "log:" message: the remote level, taken as the decimal number after the
// prefix (0 without digits), and the text after the one level character.
struct RemoteLogLine {
    std::uint32_t level = 0;
    std::string text;
};
std::optional<RemoteLogLine> remoteLogLine(std::string_view message);

// The result a script's closing word stands for ("passed", "failed",
// "warning" or "error", in any letter case); none for any other text.
std::optional<ActionResult> resultWord(std::string_view message);

} // namespace proxy
