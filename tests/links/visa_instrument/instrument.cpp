// A VISA library of our own that simulates one kind of instrument, so that
// the VISA link is tested through the same loading and calls as with a real
// library. Any resource string ending in "::INSTR" names an instrument.
//
// It answers "*IDN?" and "MEAS:VOLT?"; other queries get no answer, so
// reading after them times out. Each new query replaces an answer not yet
// read. Commands that steer the simulation:
//   TEST:TIMEOUTS n    the next n reads time out, whatever is waiting
//   TEST:CHUNK n       each write call takes at most n bytes
//   TEST:WRITELIMIT n  n more bytes are taken, then one write call fails
//   TEST:READDELAY ms  a read that fails takes ms first, as a timeout does
//   TEST:CLOSEFAIL     the next close of this session fails
// Two more exports let tests look inside: the reads made since the last
// instrument was opened, and the sessions open now.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace {

using Status = std::int32_t;
using Session = std::uint32_t;

constexpr Status success = 0;
constexpr Status errorInvalidObject = static_cast<Status>(0xBFFF000Eu);
constexpr Status errorResourceNotFound = static_cast<Status>(0xBFFF0011u);
constexpr Status errorTimeout = static_cast<Status>(0xBFFF0015u);
constexpr Status errorIo = static_cast<Status>(0xBFFF003Eu);

struct Instrument {
    std::string input;                  // the message being written, until its last byte comes
    std::optional<std::string> answer;  // waiting to be read
    int timeoutsToCome = 0;
    std::uint32_t failedReadDelay = 0; // milliseconds
    std::uint32_t chunk = UINT32_MAX;
    std::optional<std::uint32_t> writeLimit;
    bool closeFails = false;
};

std::mutex lock;
Session lastSession = 0;
std::set<Session> resourceManagers;
std::map<Session, Instrument> instruments;
int readCalls = 0;

// The number after a command's name, as in "TEST:CHUNK 2".
std::optional<std::uint32_t> argumentOf(std::string_view message, std::string_view command) {
    if (!message.starts_with(command) || message.size() <= command.size()) return std::nullopt;
    return static_cast<std::uint32_t>(std::strtoul(std::string(message.substr(command.size())).c_str(), nullptr, 10));
}

void handle(Instrument& instrument, std::string_view message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.remove_suffix(1);
    if (message.find('?') != std::string_view::npos) instrument.answer.reset();
    if (message == "*IDN?") instrument.answer = "Varnel,Simulated Instrument,0,1.0";
    else if (message == "MEAS:VOLT?") instrument.answer = "+1.234500E+00";
    else if (message == "TEST:CLOSEFAIL") instrument.closeFails = true;
    else if (const auto timeouts = argumentOf(message, "TEST:TIMEOUTS "))
        instrument.timeoutsToCome = static_cast<int>(*timeouts);
    else if (const auto chunk = argumentOf(message, "TEST:CHUNK ")) instrument.chunk = std::max<std::uint32_t>(*chunk, 1);
    else if (const auto limit = argumentOf(message, "TEST:WRITELIMIT ")) instrument.writeLimit = *limit;
    else if (const auto delay = argumentOf(message, "TEST:READDELAY ")) instrument.failedReadDelay = *delay;
}

Instrument* instrumentOf(Session session) {
    const auto found = instruments.find(session);
    return found == instruments.end() ? nullptr : &found->second;
}

} // namespace

extern "C" {

Status viOpenDefaultRM(Session* resourceManager) {
    const std::lock_guard guard(lock);
    *resourceManager = ++lastSession;
    resourceManagers.insert(*resourceManager);
    return success;
}

Status viOpen(Session resourceManager, const char* resource, std::uint32_t, std::uint32_t, Session* session) {
    const std::lock_guard guard(lock);
    if (!resourceManagers.count(resourceManager)) return errorInvalidObject;
    if (!resource || !std::string_view(resource).ends_with("::INSTR")) return errorResourceNotFound;
    *session = ++lastSession;
    instruments[*session] = Instrument{};
    readCalls = 0;
    return success;
}

Status viClose(Session session) {
    const std::lock_guard guard(lock);
    if (Instrument* instrument = instrumentOf(session)) {
        if (std::exchange(instrument->closeFails, false)) return errorIo;
        instruments.erase(session);
        return success;
    }
    return resourceManagers.erase(session) ? success : errorInvalidObject;
}

Status viWrite(Session session, const std::uint8_t* data, std::uint32_t count, std::uint32_t* written) {
    const std::lock_guard guard(lock);
    *written = 0;
    Instrument* instrument = instrumentOf(session);
    if (!instrument) return errorInvalidObject;
    if (instrument->writeLimit == 0u) {
        instrument->writeLimit.reset();
        instrument->input.clear();
        return errorIo;
    }
    std::uint32_t taken = std::min(count, instrument->chunk);
    if (instrument->writeLimit) {
        taken = std::min(taken, *instrument->writeLimit);
        *instrument->writeLimit -= taken;
    }
    instrument->input.append(data, data + taken);
    *written = taken;
    // The message ends with the last byte of a call that took all it was given.
    if (taken == count) handle(*instrument, std::exchange(instrument->input, {}));
    return success;
}

Status viRead(Session session, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* read) {
    std::unique_lock guard(lock);
    *read = 0;
    Instrument* instrument = instrumentOf(session);
    if (!instrument) return errorInvalidObject;
    ++readCalls;
    const bool forcedTimeout = instrument->timeoutsToCome > 0;
    if (forcedTimeout) --instrument->timeoutsToCome;
    if (forcedTimeout || !instrument->answer) {
        const std::chrono::milliseconds delay(instrument->failedReadDelay);
        guard.unlock();
        std::this_thread::sleep_for(delay);
        return errorTimeout;
    }
    // Answers are short: one read takes all of it.
    *read = static_cast<std::uint32_t>(std::min<std::size_t>(count, instrument->answer->size()));
    std::memcpy(buffer, instrument->answer->data(), *read);
    instrument->answer.reset();
    return success;
}

int instrumentReadCalls() {
    const std::lock_guard guard(lock);
    return readCalls;
}

int instrumentOpenSessions() {
    const std::lock_guard guard(lock);
    return static_cast<int>(resourceManagers.size() + instruments.size());
}

} // extern "C"
