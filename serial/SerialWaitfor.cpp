// The "waitfor" action: consumes received bytes until its expression holds
// or the wait ends.
#include "serial/ByteText.h"
#include "serial/Serial.h"
#include "serial/Waitfor.h"

ActionResult Serial::waitfor(std::uint32_t count, const VARIANT* parameters) {
    const TimedParameters timed = leadingTimeout(count, parameters);
    std::optional<WaitforExpression> expression =
        WaitforExpression::parse(formatParameters(timed.count, timed.parameters));
    if (!expression) {
        log(LogLevel::Error, "Serial: Invalid waitfor string\n");
        return ActionResult::Error;
    }
    log(LogLevel::Trace, "waitfor text:%s", expression->describe().c_str());
    setTimeout(timed.timeoutSeconds);

    const WaitforExpression::SeenObserver onSeen = [this](std::string_view window) {
        log(LogLevel::Trace, "Seen:%s", escapedBytes(window).c_str());
    };
    const ActionResult result = [&] {
        // The deadline, the abort flag and the link are looked at once per
        // run of unread bytes, not per byte.
        while (!timedOut() && !aborted() && linkOpen()) {
            if (!fetchChunk()) continue;
            // Every byte taken is consumed, part of a match or not; the
            // bytes after the one that completes the match stay unread.
            readPosition_ += expression->consume(unreadBytes(), onSeen);
            if (expression->evaluate(false)) return ActionResult::Passed;
        }
        if (aborted()) return ActionResult::Aborted;
        if (!linkOpen()) return ActionResult::Error;
        return expression->evaluate(true) ? ActionResult::Passed : ActionResult::Failed;
    }();
    largestWaitforWindow_ = expression->largestWindow();
    return result;
}
