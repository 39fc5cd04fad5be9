#include "proxy/ProxyTester.h"

#include "com/ComPtr.h"
#include "links/SerialCreator.h"
#include "platform/file.h"
#include "platform/pause.h"
#include "proxy/ProxyMessages.h"
#include "proxy/ScriptFile.h"
#include "tester/Parameters.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr std::int32_t defaultScriptTimeoutSeconds = 60;
constexpr std::int32_t defaultVariableTimeoutSeconds = 5;

// How long a waiting action goes without looking at the abort flag and the
// deadline; a queued message or the link coming online wakes it sooner.
constexpr auto pollInterval = std::chrono::milliseconds(100);

// After "disconnect", and after an abort while waiting for "OK", the proxy
// is given this long before the link is used or let go.
constexpr auto proxySettlePause = std::chrono::milliseconds(1000);

constexpr std::string_view okReply = "OK";

} // namespace

ProxyTester::ProxyTester() : Tester("ScriptProxy", "4.3", "Script Proxy tester via RS-232[PKT], TCP[PKT], UDP and VISA") {
    setNewActionHelp("Sets up the Serial Proxy Tester to a particular comunication type",
                     {"string ComunicationType (RS-232,TCP,UDP,VISA,LoopBack)", "[string EncryptionKey]"});
    const char* const timeoutLine = "int timeout=60";
    addAction(0, "open", "Open the serial line",
              {"The parameters depend upon the type of serial link created in the new action  (rs232, tcp, udp, "
               "loopback or visa)",
               "RS-232 parameters:-", "    int portNumber", "    int baudRate", "    bool hardwareFlowControl=false",
               "    string flowControl=None (None, CTS, DSR, Software or CTS+DSR)", "TCP parameters:-",
               "    [string serverName] - if missing then act as a server", "    int portNumber", "UDP parameters:-",
               "    int localRxPortNumber,", "    [string destinationName] - if missing then send will fail",
               "    [int destinationTxPortNumber] - if missing the localRxPortNumber is used", "VISA parameters:-",
               "    string connectionString", "LoopBack parameters:-", "    NONE"},
              {});
    addAction(1, "close", "Close the serial line", {}, {});
    addAction(2, "execute", "Execute script line(s)", {timeoutLine, "string scriptformattext", "..."}, {});
    addAction(4, "variableValue", "Read the value assigned to a variable on the proxy",
              {"string variableName", "int timeout=5"}, {"array variableValue"});
    addAction(3, "executeScriptFile",
              "Execute script line(s) from a file - path is relative to script directory",
              {timeoutLine, "string scriptFileNameFormat", "..."}, {});
}

ProxyTester::~ProxyTester() {
    // The link goes first, while this object is whole: its destructor stops
    // its threads, which may still call back until then. No "disconnect".
    linkSlot_.take();
}

std::unique_ptr<ISerial> ProxyTester::createLink(const std::string& typeName) {
    return SerialCreator::instance()->create(this, typeName.c_str());
}

void ProxyTester::reportCallbackFailure(const char* callback) noexcept {
    try {
        log(LogLevel::Error, "ProxyTester: %s failed", callback);
    } catch (...) {
        // Nothing is left to report it with; the link's thread goes on.
    }
}

void ProxyTester::onDataReceived(ISerial*, const std::uint8_t* data, std::uint32_t length) {
    try {
        std::vector<std::string> messages = proxy::splitUnits(data, length);
        if (messages.empty()) return;
        {
            std::lock_guard guard(lock_);
            for (std::string& message : messages) messageQueue_.push_back(std::move(message));
        }
        queued_.notify_all();
    } catch (...) {
        reportCallbackFailure("receiving");
    }
}

void ProxyTester::onOnline() {
    linkOnline_ = true;
    {
        // Taken so that a waiter between its look and its wait cannot miss the signal.
        std::lock_guard guard(lock_);
    }
    queued_.notify_all();
}

void ProxyTester::onOffline() { linkOnline_ = false; }

bool ProxyTester::onNew(std::uint32_t count, const VARIANT* parameters) {
    if (!linkSlot_.empty()) {
        log(LogLevel::Error, "ProxyTester: already open\n");
        return false;
    }
    if (count == 0 || !isText(parameters[0])) {
        log(LogLevel::Error, "ProxyTester: Invalid parameters to open\n");
        return false;
    }
    // Made without the lock: the link may call back while it is being made.
    std::unique_ptr<ISerial> link = createLink(textOf(parameters[0]));
    if (!link) {
        log(LogLevel::Error, "ProxyTester: Failed to open serial interface\n");
        return false;
    }
    // An empty pass phrase installs no key; the new link has none to remove,
    // so the call (and its pause for a retired key) is left out.
    const std::string key = count >= 2 && isText(parameters[1]) ? textOf(parameters[1]) : std::string();
    if (!key.empty())
        link->setEncryptionKey(reinterpret_cast<const std::uint8_t*>(key.data()), static_cast<std::uint32_t>(key.size()));
    linkSlot_.put(std::move(link));
    return true;
}

bool ProxyTester::onDelete() {
    const bool wasConnected = proxyConnected_.exchange(false);
    std::shared_ptr<ISerial> link = linkSlot_.take();
    const bool hadLink = link != nullptr;
    if (link) {
        if (wasConnected) {
            send(*link, "disconnect");
            platform::pause(proxySettlePause);
        }
        linkOnline_ = false;
        // An action still running on another thread keeps its own reference;
        // the link is destroyed, and so closed, when the last one goes.
        link.reset();
    }
    drainMessages();
    return hadLink;
}

std::string ProxyTester::statusText() {
    const std::shared_ptr<ISerial> link = linkSlot_.current();
    return link ? link->getStatus() : std::string();
}

ActionResult ProxyTester::executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) {
    const LinkInUse linkInUse(*this);
    if (!actionLink_) return ActionResult::Error;
    switch (actionId) {
    case 0: return open(count, parameters);
    case 1: return close();
    case 2: return executeScript(false, count, parameters);
    case 3: return executeScript(true, count, parameters);
    case 4: return variableValue(count, parameters);
    default: return ActionResult::Error;
    }
}

ActionResult ProxyTester::open(std::uint32_t count, const VARIANT* parameters) {
    return actionLink_->open(count, parameters) ? ActionResult::Passed : ActionResult::Error;
}

ActionResult ProxyTester::close() {
    if (!actionLink_->isOpen()) return ActionResult::Error;
    disconnect(*actionLink_);
    if (!actionLink_->close()) return ActionResult::Failed;
    linkOnline_ = false;
    return ActionResult::Passed;
}

ActionResult ProxyTester::executeScript(bool fromFile, std::uint32_t count, const VARIANT* parameters) {
    std::int32_t timeoutSeconds = defaultScriptTimeoutSeconds;
    std::uint32_t position = 0;
    if (count >= 1 && isInteger(parameters[0])) {
        timeoutSeconds = parameters[0].lVal;
        position = 1;
    }
    if (position >= count || !isText(parameters[position])) {
        log(LogLevel::Error, "Invalid paramters expected a string,int");
        return ActionResult::Error;
    }
    // Each text that no format takes as an argument starts a new line; the
    // first parameter of another type where a format belongs ends the text.
    std::string text;
    while (position < count && isText(parameters[position])) {
        if (!text.empty()) text.push_back('\n');
        std::uint32_t used = 0;
        text += formatParameters(count - position, parameters + position, &used);
        position += 1 + used;
    }
    if (fromFile) {
        std::optional<std::string> script = readScriptFile(text);
        if (!script) return ActionResult::Error;
        text = std::move(*script);
    }

    setTimeout(timeoutSeconds);
    if (const std::optional<ActionResult> failure = connectOrFail()) return *failure;
    ActionResult result = ActionResult::Failed;
    switch (scriptExchange(text, result)) {
    case Wait::Replied: return result;
    case Wait::TimedOut:
        log(LogLevel::Error, "Timeout waiting for proxy script completion");
        return ActionResult::Failed;
    case Wait::Aborted:
        log(LogLevel::Warning, "aborted while waiting for proxy script completion");
        return ActionResult::Aborted;
    }
    return ActionResult::Failed;
}

std::optional<std::string> ProxyTester::readScriptFile(const std::string& name) {
    // The script directory goes in front of every name, a full path too.
    const std::string path = scriptDirectory() + platform::pathSeparator + name;
    const platform::SharedFile file = platform::openSharedForReading(path);
    if (!file) {
        log(LogLevel::Error, "Failed to open file %s", path.c_str());
        return std::nullopt;
    }
    return proxy::readScriptText(file.get());
}

ActionResult ProxyTester::variableValue(std::uint32_t count, const VARIANT* parameters) {
    if (count == 0 || !isText(parameters[0])) {
        log(LogLevel::Error, "Invalid paramters expected a string,int=5");
        return ActionResult::Error;
    }
    const std::int32_t timeoutSeconds =
        count >= 2 && isInteger(parameters[1]) ? parameters[1].lVal : defaultVariableTimeoutSeconds;
    const std::string name = textOf(parameters[0]); // taken as it is, not as a format

    setTimeout(timeoutSeconds);
    if (const std::optional<ActionResult> failure = connectOrFail()) return *failure;
    std::string reply;
    switch (variableExchange(name, reply)) {
    case Wait::Replied: return addParsedValues(reply) ? ActionResult::Passed : ActionResult::Failed;
    case Wait::TimedOut:
        log(LogLevel::Error, "Timeout waiting for proxy variable");
        return ActionResult::Failed;
    case Wait::Aborted:
        log(LogLevel::Warning, "aborted while waiting for proxy variable");
        return ActionResult::Aborted;
    }
    return ActionResult::Failed;
}

bool ProxyTester::addParsedValues(const std::string& reply) {
    const Bstr text(platform::bstrFromNarrow(reply));
    if (!text.get()) return false;
    ComPtr<IValueParser> parser;
    if (FAILED(CoCreateInstance(CLSID_ValueParser, nullptr, CLSCTX_ALL, IID_IValueParser, parser.putVoid())) ||
        !parser)
        return false;
    SafeArray values;
    if (FAILED(parser->parse(text.get(), values.put())) || !values.get()) return false;
    VARIANT* elements = nullptr;
    if (FAILED(SafeArrayAccessData(values.get(), reinterpret_cast<void**>(&elements)))) return false;
    struct Unaccess {
        SAFEARRAY* array;
        ~Unaccess() { SafeArrayUnaccessData(array); }
    } unaccess{values.get()};
    const std::uint32_t elementTotal = elementCount(values.get());
    for (std::uint32_t i = 0; i < elementTotal; ++i) addResult(elements[i]);
    return true;
}

// --- The exchanges -------------------------------------------------------

std::optional<ActionResult> ProxyTester::connectOrFail() {
    switch (connectToProxy()) {
    case Connection::Connected: return std::nullopt;
    case Connection::TimedOut:
        log(LogLevel::Error, "timeout connecting to proxy");
        return ActionResult::Failed;
    case Connection::Aborted:
        log(LogLevel::Warning, "aborted while connecting to proxy");
        return ActionResult::Aborted;
    }
    return ActionResult::Failed;
}

void ProxyTester::send(ISerial& link, std::string_view message) {
    // What the link answers is not looked at: a refused message gets no
    // reply, and the wait for one ends at the deadline.
    link.send(reinterpret_cast<const std::uint8_t*>(message.data()), static_cast<std::uint32_t>(message.size()));
}

ProxyTester::Connection ProxyTester::connectToProxy() {
    if (proxyConnected_) return Connection::Connected;
    while (!linkOnline_ && !timedOut() && !aborted()) awaitOnline();
    if (linkOnline_) proxyConnected_ = sendAndWaitForOk("connect");
    if (proxyConnected_) return Connection::Connected;
    if (!aborted()) return Connection::TimedOut;
    sendAndWaitForOk("abort");
    return Connection::Aborted;
}

bool ProxyTester::sendAndWaitForOk(std::string_view message) {
    send(*actionLink_, message);
    while (!timedOut() && !aborted()) {
        if (const std::optional<std::string> reply = nextMessage()) {
            if (*reply == okReply) return true;
        } else {
            awaitMessage();
        }
    }
    if (aborted()) platform::pause(proxySettlePause);
    drainMessages();
    return false;
}

ProxyTester::Wait ProxyTester::scriptExchange(const std::string& script, ActionResult& result) {
    send(*actionLink_, "script:" + script);
    while (!timedOut() && !aborted()) {
        if (const std::optional<std::string> reply = nextMessage()) {
            log(LogLevel::Trace, "Result %s", reply->c_str());
            if (const std::optional<ActionResult> word = proxy::resultWord(*reply)) {
                result = *word;
                return Wait::Replied;
            }
        } else {
            awaitMessage();
        }
    }
    return endWithoutReply();
}

ProxyTester::Wait ProxyTester::variableExchange(const std::string& name, std::string& reply) {
    send(*actionLink_, "variable:" + name);
    while (!timedOut() && !aborted()) {
        if (std::optional<std::string> message = nextMessage()) {
            reply = std::move(*message);
            return Wait::Replied;
        }
        awaitMessage();
    }
    return endWithoutReply();
}

ProxyTester::Wait ProxyTester::endWithoutReply() {
    if (!aborted()) return Wait::TimedOut;
    sendAndWaitForOk("abort");
    return Wait::Aborted;
}

void ProxyTester::disconnect(ISerial& link) {
    if (!proxyConnected_) return;
    send(link, "disconnect");
    platform::pause(proxySettlePause);
    proxyConnected_ = false;
}

// --- Taking messages -------------------------------------------------------

std::optional<std::string> ProxyTester::nextMessage() {
    for (;;) {
        std::string message;
        {
            std::lock_guard guard(lock_);
            if (messageQueue_.empty()) return std::nullopt;
            message = std::move(messageQueue_.front());
            messageQueue_.pop_front();
        }
        const std::optional<proxy::RemoteLogLine> line = proxy::remoteLogLine(message);
        if (!line) return message;
        // The remote level goes to the host unchanged; the text is not a format.
        log(static_cast<LogLevel>(line->level), "%s", line->text.c_str());
    }
}

void ProxyTester::drainMessages() {
    while (nextMessage()) {
    }
}

void ProxyTester::awaitMessage() {
    awaitSignal([this] { return !messageQueue_.empty(); });
}

void ProxyTester::awaitOnline() {
    awaitSignal([this] { return linkOnline_.load(); });
}

void ProxyTester::awaitSignal(const std::function<bool()>& ready) {
    const auto wait = std::clamp<std::chrono::milliseconds>(timeLeft(), std::chrono::milliseconds(1), pollInterval);
    std::unique_lock guard(lock_);
    queued_.wait_for(guard, wait, ready);
}
