// The "scanf" action: runs the scan engine over the byte reader and hands
// the values to the host as the action's results.
#include "serial/Scanf.h"
#include "serial/Serial.h"
#include "tester/Parameters.h"

class Serial::ScanAdapter final : public ScanPort {
public:
    explicit ScanAdapter(Serial& serial) : serial_(serial) {}

    std::span<const std::uint8_t> awaitBytes() override { return serial_.awaitBytes(); }
    std::span<const std::uint8_t> bytesAtHand() override { return serial_.unreadBytes(); }
    void consumeBytes(std::size_t count) override { serial_.consumeBytes(count); }
    bool timedOut() const override { return serial_.timedOut(); }
    bool aborted() const override { return serial_.aborted(); }
    bool linkOpen() const override { return serial_.linkOpen(); }

    void deliver(std::int32_t value) override { serial_.addResult(value); }
    void deliver(double value) override { serial_.addResult(value); }
    void deliver(const std::string& value) override { serial_.addResult(value); }
    void report(LogLevel level, const std::string& line) override { serial_.log(level, "%s", line.c_str()); }

private:
    Serial& serial_;
};

ActionResult Serial::scanf(std::uint32_t count, const VARIANT* parameters) {
    const TimedParameters timed = leadingTimeout(count, parameters);
    // Parameters after the format are not used.
    if (timed.count == 0 || !isText(timed.parameters[0])) {
        log(LogLevel::Error, "Scanf parameters invalid");
        return ActionResult::Error;
    }
    const std::string format = textOf(timed.parameters[0]);
    setTimeout(timed.timeoutSeconds);
    ScanAdapter port(*this);
    return ScanfEngine(port).run(format);
}
