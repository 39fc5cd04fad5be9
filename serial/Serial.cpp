#include "serial/Serial.h"

#include "links/SerialCreator.h"
#include "platform/pause.h"
#include "tester/Parameters.h"

#include <chrono>

namespace {

constexpr std::uint32_t defaultTimeoutSeconds = 5;

// "delete" waits this long after detaching the link before letting go of it.
constexpr auto linkDetachPause = std::chrono::milliseconds(1000);

// How often "send" looks at the abort flag and the deadline; a transmitted
// report wakes it at once.
constexpr auto sendPollInterval = std::chrono::milliseconds(1);

// How long clearReceiveQueue waits for one more chunk before it stops.
constexpr auto clearQueueQuietTime = std::chrono::milliseconds(100);

} // namespace

Serial::Serial()
    : Tester("serial", "5.0", "Serial Comunications tester via RS-232[PKT], TCP[PKT], UDP, VISA and Process") {
    setNewActionHelp("Sets up the Serial Tester to a particular comunication type",
                     {"string ComunicationType (RS-232,TCP,UDP,VISA,LoopBack)"});

    const char* const timeoutLine = "int timeOutSec=5";
    const char* const fileNameLine = "string fileName (this is an sprintf format string representing the file name).";
    addAction(0, "open", "Open the serial line",
              {"The parameters depend upon the type of serial link created in the new action  (rs232, rs232pkt, tcp, "
               "tcppkt, udp, loopback or visa)",
               "RS232 and RS232 PKT parameters:-", "    int portNumber", "    int baudRate",
               "    bool hardwareFlowControl=false",
               "    string flowControl=None (None, CTS, DSR, Software or CTS+DSR)", "TCP and TCPPKT parameters:-",
               "    [string serverName] - if missing then act as a server", "    int portNumber", "UDP parameters:-",
               "    int localRxPortNumber,", "    [string destinationName] - if missing then send will fail",
               "    [int destinationTxPortNumber] - if missing the localRxPortNumber is used", "VISA parameters:-",
               "    string connectionString", "LoopBack parameters:-", "    NONE", "Process parameters:-", "    NONE"},
              {});
    addAction(1, "close", "Close the serial line", {}, {});
    addAction(2, "send", "Send data on the serial line", {timeoutLine, "string format", "..."}, {});
    addAction(3, "waitfor", "Waitfor text from the serial line", {timeoutLine, "string format", "..."}, {});
    addAction(4, "waitforEvent",
              "Waitfor and event to occur on the serial line (RS-232 only) - Event Logging will be enabled "
              "automatically if not already enabled",
              {timeoutLine, "string eventName (Break|CTS|DSR|ERR|RING|RLSD|RXCHAR|RXFLAG)"}, {});
    addAction(6, "queueEvents",
              "Enable/Disable queuing of events - this allows you to perform the waitforevent action (disabled by "
              "default)",
              {"bool enable"}, {});
    addAction(5, "clearEventQueue", "Clear the event queue", {}, {});
    addAction(7, "logdata", "Turn on or off logging", {"bool log=true"}, {});
    addAction(8, "sinkdata", "Turn on or off data sinking", {"bool sink=true"}, {});
    addAction(9, "scanf",
              "Retrieve values/text from serial line. If all format statements are successfully processing in the "
              "time specified the action is Passed",
              {timeoutLine, "string format (supported formats d,u,o,x,f,g,s and [])"},
              {"VARIANT[] Depending upon the format statement"});
    addAction(10, "sendFile",
              "Send the contents of a file over the serial line. If you do not specify a full path to the file it "
              "will firstly check the current working directory and then the script directory.",
              {timeoutLine, fileNameLine, "..."}, {});
    addAction(11, "compareFile",
              "Compare the received data against the contents of a file. If you do not specify a full path to the "
              "file it will firstly check the current working directory and then the script directory.",
              {timeoutLine, fileNameLine, "..."}, {});
    addAction(12, "clearReceiveQueue", "Clear all characters from the receive queue.", {}, {});
    addAction(13, "startLoggingToFile", "Start logging data to a file.", {fileNameLine, "...", "bool textOnly=false"},
              {});
    addAction(14, "stopLoggingToFile", "Stop logging data to the file.", {}, {});
}

Serial::~Serial() {
    // The link goes first, while this object is whole: its destructor stops
    // its threads, which may still call back until then.
    linkSlot_.take();
}

std::unique_ptr<ISerial> Serial::createLink(const std::string& typeName) {
    return SerialCreator::instance()->create(this, typeName.c_str());
}

bool Serial::onNew(std::uint32_t count, const VARIANT* parameters) {
    if (!linkSlot_.empty()) {
        log(LogLevel::Error, "Serial: already open\n");
        return false;
    }
    if (count != 1 || !isText(parameters[0])) {
        log(LogLevel::Error, "Serial: Invalid parameters to open\n");
        return false;
    }
    transmittedCount_ = 0;
    // Made without the lock: the link may call back while it is being made.
    std::unique_ptr<ISerial> link = createLink(textOf(parameters[0]));
    if (!link) {
        log(LogLevel::Error, "Serial: Failed to open serial interface\n");
        return false;
    }
    linkSlot_.put(std::move(link));
    return true;
}

bool Serial::onDelete() {
    // An action still running on another thread keeps its own reference;
    // the link is destroyed, and so closed, when the last one goes.
    const std::shared_ptr<ISerial> link = linkSlot_.take();
    platform::pause(linkDetachPause);
    return link != nullptr;
}

std::string Serial::statusText() {
    const std::shared_ptr<ISerial> link = linkSlot_.current();
    return link ? link->getStatus() : std::string();
}

Serial::TimedParameters Serial::leadingTimeout(std::uint32_t count, const VARIANT* parameters) {
    if (count >= 1 && isInteger(parameters[0]))
        return {static_cast<std::uint32_t>(parameters[0].lVal), count - 1, parameters + 1};
    return {defaultTimeoutSeconds, count, parameters};
}

ActionResult Serial::executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) {
    const LinkInUse linkInUse(*this);
    if (!actionLink_) {
        log(LogLevel::Error, "Serial: not open\n");
        return ActionResult::Error;
    }
    switch (actionId) {
    case 0: return open(count, parameters);
    case 1: return close();
    case 2: return send(count, parameters);
    case 3: return waitfor(count, parameters);
    case 4: return waitforEvent(count, parameters);
    case 5: return clearEventQueue();
    case 6: return queueEvents(count, parameters);
    case 7: return setFlag(logData_, "logData", count, parameters);
    case 8: return setFlag(sinkData_, "sinkData", count, parameters);
    case 9: return scanf(count, parameters);
    case 10: return sendFile(count, parameters);
    case 11: return compareFile(count, parameters);
    case 12: return clearReceiveQueue();
    case 13: return startLoggingToFile(count, parameters);
    case 14: return stopLoggingToFile();
    default: return ActionResult::Error;
    }
}

ActionResult Serial::open(std::uint32_t count, const VARIANT* parameters) {
    return actionLink_->open(count, parameters) ? ActionResult::Passed : ActionResult::Error;
}

ActionResult Serial::close() {
    if (!actionLink_->isOpen()) return ActionResult::Error;
    return actionLink_->close() ? ActionResult::Passed : ActionResult::Failed;
}

ActionResult Serial::send(std::uint32_t count, const VARIANT* parameters) {
    const TimedParameters timed = leadingTimeout(count, parameters);
    const std::string text = formatParameters(timed.count, timed.parameters);
    const auto length = static_cast<std::uint32_t>(text.size());
    // Passes once the link has reported at least this many more bytes sent.
    const std::uint32_t target = transmittedCount_ + length;
    if (!actionLink_->send(reinterpret_cast<const std::uint8_t*>(text.data()), length)) return ActionResult::Error;
    setTimeout(timed.timeoutSeconds);
    return awaitTransmitted(target);
}

ActionResult Serial::awaitTransmitted(std::uint32_t target) {
    {
        std::unique_lock guard(transmitLock_);
        while (transmittedCount_ < target && !aborted() && !timedOut())
            transmitSignal_.wait_for(guard, sendPollInterval);
    }
    if (aborted()) return ActionResult::Aborted;
    return transmittedCount_ < target ? ActionResult::Failed : ActionResult::Passed;
}

ActionResult Serial::setFlag(std::atomic<bool>& flag, const char* name, std::uint32_t count,
                             const VARIANT* parameters, const char* onWord, const char* offWord) {
    // The help line's default is not applied: the value must be given.
    if (count != 1 || !isBool(parameters[0])) {
        log(LogLevel::Warning, "Invalid parameters to %s - bool expected - command ignored", name);
        return ActionResult::Warning;
    }
    const bool on = boolOf(parameters[0]);
    flag.store(on, std::memory_order_relaxed); // the link's threads read it as a plain switch
    log(LogLevel::Info, "%s %s", name, on ? onWord : offWord);
    return ActionResult::Passed;
}

ActionResult Serial::clearReceiveQueue() {
    // Chunks that keep arriving less than the quiet time apart are all
    // dropped; Abort ends the wait for a line that never falls quiet.
    ReceivedBlock dropped;
    while (!aborted() && takeChunk(dropped, clearQueueQuietTime)) {
    }
    readPosition_ = currentChunk_.size();
    return aborted() ? ActionResult::Aborted : ActionResult::Passed;
}
