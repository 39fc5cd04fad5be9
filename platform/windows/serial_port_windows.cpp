// The serial port as a COM device opened for overlapped I/O. The line-event
// wait and the read share one overlapped record (the reader thread never
// has both pending); the write has its own, so reading and writing run at
// the same time. Whichever wait the stop signal ends cancels its pending
// operation and waits for the cancellation to complete, so the kernel never
// writes into a record or buffer after it has been given back.
#include "platform/serial_port.h"

#include <windows.h>

#include <string>

namespace platform {

static_assert(LineEvent::RxChar == EV_RXCHAR && LineEvent::RxFlag == EV_RXFLAG && LineEvent::TxEmpty == EV_TXEMPTY &&
              LineEvent::Cts == EV_CTS && LineEvent::Dsr == EV_DSR && LineEvent::Rlsd == EV_RLSD &&
              LineEvent::Break == EV_BREAK && LineEvent::Err == EV_ERR && LineEvent::Ring == EV_RING);

namespace {

constexpr DWORD driverQueueSize = 32768;
// A read returns once this long passes without a further character.
constexpr DWORD readIntervalTimeout = 25;

// An event handle, invalid at NULL.
class Event {
public:
    explicit Event(bool manualReset) : handle_(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~Event() {
        if (handle_) CloseHandle(handle_);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

void applyFlowControl(DCB& dcb, FlowControl flowControl) {
    const bool ctsFlow = flowControl == FlowControl::Cts || flowControl == FlowControl::CtsDtr;
    dcb.fOutxCtsFlow = ctsFlow;
    dcb.fOutxDsrFlow = flowControl == FlowControl::Dsr;
    dcb.fDtrControl = flowControl == FlowControl::CtsDtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = ctsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    const bool software = flowControl == FlowControl::Software;
    dcb.fOutX = software;
    dcb.fInX = software;
}

bool configure(HANDLE port, const SerialSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = settings.baudRate;
    // Binary, and every other flag off; the bits above fAbortOnError stay as read.
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 4096;
    dcb.XoffLim = 4096;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    applyFlowControl(dcb, settings.flowControl);
    if (!SetCommState(port, &dcb)) return false;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = readIntervalTimeout;
    return SetCommTimeouts(port, &timeouts) != 0;
}

class WindowsSerialPort final : public SerialPort {
public:
    ~WindowsSerialPort() override { close(); }

    bool open(std::uint32_t number, const SerialSettings& settings) override {
        if (port_ != INVALID_HANDLE_VALUE || !readEvent_.get() || !writeEvent_.get()) return false;
        const std::string path = "\\\\.\\COM" + std::to_string(number);
        const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OVERLAPPED, nullptr);
        if (port == INVALID_HANDLE_VALUE) return false;
        if (!configure(port, settings)) {
            CloseHandle(port);
            return false;
        }
        // A driver that keeps its own queue sizes, or events, is still usable.
        SetupComm(port, driverQueueSize, driverQueueSize);
        SetCommMask(port, LineEvent::All);
        port_ = port;
        return true;
    }

    void close() override {
        if (port_ == INVALID_HANDLE_VALUE) return;
        CloseHandle(port_);
        port_ = INVALID_HANDLE_VALUE;
    }

    PortOutcome waitForEvents(const StopSignal& stop) override {
        events_ = 0;
        OVERLAPPED overlapped = freshOverlapped(readEvent_);
        if (WaitCommEvent(port_, &events_, &overlapped)) return {PortOutcome::State::Done, events_};
        if (GetLastError() != ERROR_IO_PENDING) return {PortOutcome::State::Failed};
        DWORD unused = 0;
        const PortOutcome outcome = finish(overlapped, stop, unused);
        if (outcome.done()) return {PortOutcome::State::Done, events_};
        return outcome;
    }

    PortOutcome read(std::uint8_t* buffer, std::size_t capacity, const StopSignal& stop) override {
        return transfer(readEvent_, stop, [&](OVERLAPPED* overlapped) {
            return ReadFile(port_, buffer, clampedLength(capacity), nullptr, overlapped);
        });
    }

    PortOutcome write(const std::uint8_t* data, std::size_t length, const StopSignal& stop) override {
        PortOutcome outcome = transfer(writeEvent_, stop, [&](OVERLAPPED* overlapped) {
            return WriteFile(port_, data, clampedLength(length), nullptr, overlapped);
        });
        if (outcome.done() && outcome.bytes != length) outcome.state = PortOutcome::State::Failed;
        return outcome;
    }

private:
    static OVERLAPPED freshOverlapped(const Event& event) {
        ResetEvent(event.get());
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        return overlapped;
    }

    // Starts a read or write with `start` and waits for its end or the stop.
    template <typename Start>
    PortOutcome transfer(const Event& event, const StopSignal& stop, const Start& start) {
        OVERLAPPED overlapped = freshOverlapped(event);
        if (!start(&overlapped) && GetLastError() != ERROR_IO_PENDING) return {PortOutcome::State::Failed};
        DWORD transferred = 0;
        PortOutcome outcome = finish(overlapped, stop, transferred);
        outcome.bytes = transferred;
        return outcome;
    }

    static DWORD clampedLength(std::size_t length) { return length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length); }

    // Waits for the started operation or the stop signal. On the stop the
    // operation is cancelled and its end awaited before the record goes.
    PortOutcome finish(OVERLAPPED& overlapped, const StopSignal& stop, DWORD& transferred) {
        const HANDLE handles[2] = {stop.native(), overlapped.hEvent};
        const DWORD waited = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (waited != WAIT_OBJECT_0 + 1) {
            CancelIo(port_);
            GetOverlappedResult(port_, &overlapped, &transferred, TRUE);
            return {waited == WAIT_OBJECT_0 ? PortOutcome::State::Stopped : PortOutcome::State::Failed};
        }
        if (!GetOverlappedResult(port_, &overlapped, &transferred, TRUE)) return {PortOutcome::State::Failed};
        return {PortOutcome::State::Done};
    }

    HANDLE port_ = INVALID_HANDLE_VALUE;
    DWORD events_ = 0; // WaitCommEvent's mask: outlives the call that started it
    Event readEvent_{true};   // manual reset: the line-event wait and the read
    Event writeEvent_{false}; // auto reset: the writer's
};

} // namespace

std::unique_ptr<SerialPort> makeSystemSerialPort() { return std::make_unique<WindowsSerialPort>(); }

} // namespace platform
