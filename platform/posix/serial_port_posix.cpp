// The serial port as a terminal device: termios for the settings, poll()
// beside the stop signal for every wait. Line changes and errors come from
// the driver's interrupt counters (TIOCGICOUNT), read every few
// milliseconds while waiting: TIOCMIWAIT would tell the same but cannot be
// woken by the stop signal. Pseudo-terminals have no counters; there only
// received characters and an emptied output queue are reported.
#include "platform/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// How often the interrupt counters and the output queue are looked at.
constexpr std::chrono::milliseconds linePollInterval{20};
// The longest one wait lasts when there is nothing to look at.
constexpr std::chrono::milliseconds idleWaitLimit{500};

// The device for port `number`: "%d" in the pattern stands for the number.
std::string devicePath(std::uint32_t number) {
    const char* fromEnvironment = std::getenv("VARNEL_SERIAL_DEVICE_PATTERN");
    std::string pattern = fromEnvironment && *fromEnvironment ? fromEnvironment : "/dev/ttyS%d";
    const auto at = pattern.find("%d");
    if (at == std::string::npos) return pattern;
    return pattern.replace(at, 2, std::to_string(number));
}

struct BaudRow {
    std::uint32_t rate;
    speed_t speed;
};

const BaudRow baudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool speedFor(std::uint32_t rate, speed_t& speed) {
    for (const BaudRow& row : baudRates) {
        if (row.rate == rate) {
            speed = row.speed;
            return true;
        }
    }
    return false;
}

// Raw 8N1 at the given rate, with the flow control that termios offers.
bool configure(int fd, const SerialSettings& settings) {
    termios attributes{};
    speed_t speed = B0;
    if (tcgetattr(fd, &attributes) != 0 || !speedFor(settings.baudRate, speed)) return false;
    cfmakeraw(&attributes);
    attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    attributes.c_cflag |= CS8 | CREAD | CLOCAL;
    attributes.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (settings.flowControl == FlowControl::Cts || settings.flowControl == FlowControl::CtsDtr)
        attributes.c_cflag |= CRTSCTS;
    if (settings.flowControl == FlowControl::Software) attributes.c_iflag |= IXON | IXOFF;
    // Terminals have no DSR flow control: "DSR" runs without any.
    attributes.c_cc[VSTART] = 0x11;
    attributes.c_cc[VSTOP] = 0x13;
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
    if (cfsetispeed(&attributes, speed) != 0 || cfsetospeed(&attributes, speed) != 0) return false;
    return tcsetattr(fd, TCSANOW, &attributes) == 0;
}

// DTR on only for "CTS+DTR"; RTS is left to the driver with CRTSCTS and
// dropped otherwise. Devices without modem lines refuse: that is ignored.
void setModemLines(int fd, FlowControl flowControl) {
    int dtr = TIOCM_DTR;
    ioctl(fd, flowControl == FlowControl::CtsDtr ? TIOCMBIS : TIOCMBIC, &dtr);
    if (flowControl != FlowControl::Cts && flowControl != FlowControl::CtsDtr) {
        int rts = TIOCM_RTS;
        ioctl(fd, TIOCMBIC, &rts);
    }
}

// The events that the counters' growth since `before` stands for.
std::uint32_t eventsBetween(const serial_icounter_struct& before, const serial_icounter_struct& after) {
    std::uint32_t events = 0;
    if (after.brk != before.brk) events |= LineEvent::Break;
    if (after.cts != before.cts) events |= LineEvent::Cts;
    if (after.dsr != before.dsr) events |= LineEvent::Dsr;
    if (after.frame != before.frame || after.overrun != before.overrun || after.parity != before.parity ||
        after.buf_overrun != before.buf_overrun)
        events |= LineEvent::Err;
    if (after.rng != before.rng) events |= LineEvent::Ring;
    if (after.dcd != before.dcd) events |= LineEvent::Rlsd;
    return events;
}

class PosixSerialPort final : public SerialPort {
public:
    ~PosixSerialPort() override { close(); }

    bool open(std::uint32_t number, const SerialSettings& settings) override {
        if (fd_ >= 0) return false;
        const int fd = ::open(devicePath(number).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        // No sharing: a second open of the same device fails, as on Windows.
        if (ioctl(fd, TIOCEXCL) != 0 || !configure(fd, settings)) {
            ::close(fd);
            return false;
        }
        setModemLines(fd, settings.flowControl);
        tcflush(fd, TCIOFLUSH);
        hasCounters_ = ioctl(fd, TIOCGICOUNT, &counters_) == 0;
        transmitting_ = false;
        fd_ = fd;
        return true;
    }

    void close() override {
        if (fd_ < 0) return;
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }

    PortOutcome waitForEvents(const StopSignal& stop) override {
        const bool watchLines = hasCounters_ || transmitting_;
        pollfd descriptors[2] = {{stop.native(), POLLIN, 0}, {fd_, POLLIN, 0}};
        const int ready = poll(descriptors, 2, static_cast<int>((watchLines ? linePollInterval : idleWaitLimit).count()));
        if (ready < 0 && errno != EINTR) return {PortOutcome::State::Failed};
        if (descriptors[0].revents & POLLIN) return {PortOutcome::State::Stopped};
        PortOutcome outcome{PortOutcome::State::Done};
        const short received = descriptors[1].revents;
        if (received & POLLIN) outcome.events |= LineEvent::RxChar;
        // A hung-up pseudo-terminal or a removed device: nothing to read, ever.
        else if (received & (POLLHUP | POLLERR | POLLNVAL))
            return {PortOutcome::State::Failed};
        outcome.events |= lineEvents();
        return outcome;
    }

    PortOutcome read(std::uint8_t* buffer, std::size_t capacity, const StopSignal& stop) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, capacity);
            if (got > 0) return {PortOutcome::State::Done, 0, static_cast<std::size_t>(got)};
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) return {PortOutcome::State::Failed};
            const WaitResult waited = waitUntilReadyOrStopped(fd_, stop, waitWithoutLimit, Readiness::Readable);
            if (waited == WaitResult::Stopped) return {PortOutcome::State::Stopped};
            if (waited != WaitResult::Ready) return {PortOutcome::State::Failed};
        }
    }

    PortOutcome write(const std::uint8_t* data, std::size_t length, const StopSignal& stop) override {
        std::size_t written = 0;
        while (written < length) {
            const ssize_t put = ::write(fd_, data + written, length - written);
            if (put > 0) {
                written += static_cast<std::size_t>(put);
                transmitting_ = true;
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR) return {PortOutcome::State::Failed, 0, written};
            // Flow control holds the output, or the driver's queue is full.
            const WaitResult waited = waitUntilReadyOrStopped(fd_, stop, waitWithoutLimit, Readiness::Writable);
            if (waited == WaitResult::Stopped) return {PortOutcome::State::Stopped, 0, written};
            if (waited != WaitResult::Ready) return {PortOutcome::State::Failed, 0, written};
        }
        return {PortOutcome::State::Done, 0, written};
    }

private:
    // Changes of the modem lines and errors since the last look, and the
    // output queue running empty after a write.
    std::uint32_t lineEvents() {
        std::uint32_t events = 0;
        serial_icounter_struct now{};
        if (hasCounters_ && ioctl(fd_, TIOCGICOUNT, &now) == 0) {
            events |= eventsBetween(counters_, now);
            counters_ = now;
        }
        int queued = 0;
        if (transmitting_ && (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0)) {
            transmitting_ = false;
            events |= LineEvent::TxEmpty;
        }
        return events;
    }

    int fd_ = -1;
    bool hasCounters_ = false;            // the reader's, after open
    serial_icounter_struct counters_{};   // the reader's: the counts at the last look
    std::atomic<bool> transmitting_{false}; // set by the writer, cleared by the reader when the queue is empty
};

} // namespace

std::unique_ptr<SerialPort> makeSystemSerialPort() { return std::make_unique<PosixSerialPort>(); }

} // namespace platform
