// The scanf engine: a format over received bytes, handed out in runs whose
// lengths the input chooses. When the bytes run out the wait ends, as when
// the deadline passes.
#include "FuzzInput.h"
#include "serial/Scanf.h"

#include <algorithm>
#include <span>
#include <string>

namespace {

class BytesPort final : public ScanPort {
public:
    BytesPort(std::string_view bytes, std::size_t runLength) : bytes_(bytes), runLength_(runLength) {}
    std::span<const std::uint8_t> awaitBytes() override {
        if (position_ >= bytes_.size()) {
            // A scan that keeps reading after its wait ended would never end.
            if (++readsAfterEnd_ > 1000000) __builtin_trap();
            expired_ = true;
            return {};
        }
        return bytesAtHand();
    }
    std::span<const std::uint8_t> bytesAtHand() override {
        given_ = std::min(runLength_, bytes_.size() - position_);
        return {reinterpret_cast<const std::uint8_t*>(bytes_.data()) + position_, given_};
    }
    void consumeBytes(std::size_t count) override {
        if (count > given_) __builtin_trap(); // more than the last run held
        position_ += count;
        given_ -= count;
    }
    bool timedOut() const override { return expired_; }
    bool aborted() const override { return false; }
    bool linkOpen() const override { return true; }
    void deliver(std::int32_t) override {}
    void deliver(double) override {}
    void deliver(const std::string&) override {}
    void report(LogLevel, const std::string&) override {}

private:
    std::string_view bytes_;
    std::size_t runLength_;
    std::size_t position_ = 0;
    std::size_t given_ = 0; // bytes of the last run not yet consumed
    long readsAfterEnd_ = 0;
    bool expired_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [format, rest] = fuzz::splitAtNul(fuzz::text(data, size));
    // The byte after the NUL sets the run lengths; the rest is received.
    const std::size_t runLength = rest.empty() ? 1 : 1 + static_cast<std::uint8_t>(rest[0]) % 17;
    BytesPort port(rest.empty() ? rest : rest.substr(1), runLength);
    ScanfEngine(port).run(std::string(format));
    return 0;
}
