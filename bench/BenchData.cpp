#include "bench/BenchData.h"

#include <cstdint>
#include <fstream>
#include <stdexcept>

namespace bench {
namespace {

// A fixed generator, so that every run measures the same bytes.
class XorShift {
public:
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15u;
};

std::string makeNoiseThenText() {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789 \r\n";
    XorShift random;
    std::string text(noiseBytes, ' ');
    for (char& c : text) c = alphabet[random.next() % (sizeof alphabet - 1)];
    return text + waitedText;
}

std::string makeNumbersText() {
    XorShift random;
    std::string text;
    text.reserve(numberCount * 8);
    for (std::size_t i = 0; i < numberCount; ++i) {
        const std::uint64_t r = random.next();
        const long long value = static_cast<long long>(r % 10'000'000) * ((r >> 40) % 4 == 0 ? -1 : 1);
        text += std::to_string(value);
        text += '\n';
    }
    return text;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

} // namespace

const std::string& noiseThenText() {
    static const std::string text = makeNoiseThenText();
    return text;
}

const std::string& numbersText() {
    static const std::string text = makeNumbersText();
    return text;
}

void writeDataFiles(const std::string& folder) {
    writeFile(folder + "/noise.txt", noiseThenText());
    writeFile(folder + "/numbers.txt", numbersText());
}

} // namespace bench
