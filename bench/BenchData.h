// The inputs the benchmarks share with the outside anchors: the same bytes
// are written to files so that the Python and Expect scripts measure
// exactly what the tester was given.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

inline constexpr std::size_t noiseBytes = std::size_t{64} << 20;
inline constexpr std::size_t numberCount = 800'000;
inline constexpr const char* waitedText = "READY";
// Texts that never occur in the noise, for the expression of several texts.
inline constexpr const char* otherTexts[] = {"ERROR", "FAULT", "ABORT"};

// 64 MiB of lower-case letters, digits, spaces and line ends (so no waited
// text occurs in it), followed by waitedText.
const std::string& noiseThenText();
// numberCount decimal integers of up to seven digits, each followed by a
// line end, some negative.
const std::string& numbersText();
// Writes both to `folder` as noise.txt and numbers.txt.
void writeDataFiles(const std::string& folder);

} // namespace bench
