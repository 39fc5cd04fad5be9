// Line events: the link reports them on its thread; when queuing is on the
// tester keeps them for "waitforEvent", in arrival order.
#include "serial/Serial.h"

#include "tester/Parameters.h"

#include <array>
#include <cctype>

namespace {

// Event names by code. The last one is logged but cannot be waited for.
constexpr std::array<const char*, 9> commEventNames{"Break", "CTS",    "DSR",    "ERR",    "RING",
                                                    "RLSD",  "RXCHAR", "RXFLAG", "TXEMPTY"};
constexpr std::uint32_t awaitableEventCount = 8;

// "waitforEvent" looks at the deadline, the abort flag and the link at least
// this often; an event wakes it at once.
constexpr auto eventPollInterval = std::chrono::milliseconds(1000);

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::uint32_t> awaitableEventCode(std::string_view name) {
    for (std::uint32_t code = 0; code < awaitableEventCount; ++code)
        if (equalIgnoringCase(name, commEventNames[code])) return code;
    return std::nullopt;
}

} // namespace

void Serial::onCommEvent(ISerial*, CommEvent event) {
    const auto code = static_cast<std::uint32_t>(event);
    try {
        if (code < commEventNames.size())
            log(LogLevel::Trace, "'%s' Received", commEventNames[code]);
        else
            log(LogLevel::Trace, "Unknown event %d received", static_cast<int>(code));
    } catch (...) {
        reportCallbackFailure("event");
    }
    if (!queueEvents_) return;
    try {
        {
            const std::lock_guard guard(queueLock_);
            eventQueue_.push_back(code);
        }
        eventSignal_.notify_one();
    } catch (...) {
        reportCallbackFailure("event");
    }
}

std::optional<std::uint32_t> Serial::takeEvent(std::chrono::milliseconds wait) {
    std::unique_lock guard(queueLock_);
    if (!eventSignal_.wait_for(guard, wait, [this] { return !eventQueue_.empty(); })) return std::nullopt;
    const std::uint32_t code = eventQueue_.front();
    eventQueue_.pop_front();
    return code;
}

void Serial::emptyEventQueue() {
    const std::lock_guard guard(queueLock_);
    eventQueue_.clear();
}

ActionResult Serial::waitforEvent(std::uint32_t count, const VARIANT* parameters) {
    // Switched on first, whatever the parameters turn out to be.
    if (!queueEvents_) {
        log(LogLevel::Info, "Enabling event queuing");
        queueEvents_ = true;
    }
    const TimedParameters timed = leadingTimeout(count, parameters);
    if (timed.count < 1 || !isText(timed.parameters[0])) {
        log(LogLevel::Warning, "Invalid parameters to eWaitForEvent - [int,]string expected - command ignored");
        return ActionResult::Error;
    }
    const std::string name = textOf(timed.parameters[0]);
    const std::optional<std::uint32_t> wanted = awaitableEventCode(name);
    if (!wanted) {
        log(LogLevel::Error, "Unknown event type %s", name.c_str());
        return ActionResult::Error;
    }
    log(LogLevel::Trace, "Waiting for '%s' event with %d second timeout", commEventNames[*wanted],
        static_cast<int>(timed.timeoutSeconds));
    setTimeout(timed.timeoutSeconds);
    // Events of other kinds are consumed on the way.
    while (!timedOut() && !aborted() && linkOpen()) {
        const auto wait = std::min(eventPollInterval, timeLeft() + std::chrono::milliseconds(1));
        if (takeEvent(wait) == wanted) {
            log(LogLevel::Trace, "Expected event \"%s\" received", name.c_str());
            return ActionResult::Passed;
        }
    }
    // A deadline, an abort and a closed link all end the same way.
    log(LogLevel::Error, "Timeout waiting for \"%s\" event", name.c_str());
    return ActionResult::Failed;
}

ActionResult Serial::queueEvents(std::uint32_t count, const VARIANT* parameters) {
    const ActionResult result = setFlag(queueEvents_, "eventLogging", count, parameters, "Enabled", "Disabled");
    if (result == ActionResult::Passed && !queueEvents_) emptyEventQueue();
    return result;
}

ActionResult Serial::clearEventQueue() {
    log(LogLevel::Trace, "Clearing event queue");
    emptyEventQueue();
    return ActionResult::Passed;
}
