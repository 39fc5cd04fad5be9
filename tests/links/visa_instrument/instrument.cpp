// A VISA library of our own that simulates one kind of instrument, so that
// the VISA link is tested through the same loading and calls as with a real
// library. Any resource string ending in "::INSTR" names an instrument. It
// answers "*IDN?" and "MEAS:VOLT?"; other queries get no answer, so reading
// after them times out, and each new query replaces an answer not yet read.
// Commands that steer the simulation:
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
    std::string input;                 // the message being written, until its last byte comes
    std::optional<std::string> answer; // waiting to be read
    std::uint32_t timeoutsToCome = 0, failedReadDelay = 0, chunk = UINT32_MAX;
    std::optional<std::uint32_t> writeLimit;
    bool closeFails = false;
};

std::mutex lock;
Session lastSession = 0;
std::set<Session> resourceManagers;
std::map<Session, Instrument> instruments;
int readCalls = 0;

void handle(Instrument& instrument, std::string_view message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.remove_suffix(1);
    if (message.find('?') != std::string_view::npos) instrument.answer.reset();
    if (message == "*IDN?") instrument.answer = "Varnel,Simulated Instrument,0,1.0";
    else if (message == "MEAS:VOLT?") instrument.answer = "+1.234500E+00";
    else if (message == "TEST:CLOSEFAIL") instrument.closeFails = true;
    const std::pair<std::string_view, std::uint32_t*> settings[] = {{"TEST:TIMEOUTS ", &instrument.timeoutsToCome},
                                                                    {"TEST:CHUNK ", &instrument.chunk},
                                                                    {"TEST:READDELAY ", &instrument.failedReadDelay}};
    const auto number = [&](std::string_view command) {
        return static_cast<std::uint32_t>(std::strtoul(std::string(message.substr(command.size())).c_str(), nullptr, 10));
    };
    for (const auto& [command, value] : settings)
        if (message.starts_with(command)) *value = number(command);
    if (message.starts_with("TEST:WRITELIMIT ")) instrument.writeLimit = number("TEST:WRITELIMIT ");
}

Instrument* instrumentOf(Session session) {
    const auto found = instruments.find(session);
    return found == instruments.end() ? nullptr : &found->second;
}

} // namespace

extern "C" {

Status viOpenDefaultRM(Session* resourceManager) {
    const std::lock_guard guard(lock);
    resourceManagers.insert(*resourceManager = ++lastSession);
    return success;
}

Status viOpen(Session resourceManager, const char* resource, std::uint32_t, std::uint32_t, Session* session) {
    const std::lock_guard guard(lock);
    if (!resourceManagers.count(resourceManager)) return errorInvalidObject;
    if (!resource || !std::string_view(resource).ends_with("::INSTR")) return errorResourceNotFound;
    instruments[*session = ++lastSession] = Instrument{};
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
    const std::uint32_t taken = std::min({count, std::max(instrument->chunk, 1u), instrument->writeLimit.value_or(count)});
    if (instrument->writeLimit) *instrument->writeLimit -= taken;
    instrument->input.append(data, data + (*written = taken));
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
