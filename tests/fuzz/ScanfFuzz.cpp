// The scanf engine: a format over received bytes. When the bytes run out
// the wait ends, as when the deadline passes.
#include "FuzzInput.h"
#include "serial/Scanf.h"

#include <string>

namespace {

class BytesPort final : public ScanPort {
public:
    explicit BytesPort(std::string_view bytes) : bytes_(bytes) {}
    std::uint8_t readByte() override { return next(true); }
    std::uint8_t peekByte() override { return next(false); }
    void skipWhitespace() override {
        for (auto b = peekByte(); b == ' ' || b == '\r' || b == '\t' || b == '\n'; b = peekByte()) readByte();
    }
    bool timedOut() const override { return expired_; }
    bool aborted() const override { return false; }
    bool linkOpen() const override { return true; }
    void deliver(std::int32_t) override {}
    void deliver(double) override {}
    void deliver(const std::string&) override {}
    void report(LogLevel, const std::string&) override {}

private:
    std::uint8_t next(bool consume) {
        if (position_ >= bytes_.size()) {
            // A scan that keeps reading after its wait ended would never end.
            if (++readsAfterEnd_ > 1000000) __builtin_trap();
            expired_ = true;
            return 0;
        }
        return static_cast<std::uint8_t>(bytes_[consume ? position_++ : position_]);
    }

    std::string_view bytes_;
    std::size_t position_ = 0;
    long readsAfterEnd_ = 0;
    bool expired_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [format, received] = fuzz::splitAtNul(fuzz::text(data, size));
    BytesPort port(received);
    ScanfEngine(port).run(std::string(format));
    return 0;
}
