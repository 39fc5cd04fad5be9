// A serial port as the RS-232 link drives it: open and configure it, wait
// for line events, read what has come, write, close. The link's reader and
// writer loops are written once above this interface; each system has one
// backend, and tests put a scripted port behind the same interface.
//
// Threads: open and close run only while no other call is in progress; the
// reader thread waits for events and reads while the writer thread writes.
// Every wait ends when the stop signal is set.
#pragma once

#include "platform/stop_signal.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// Line events as bits of one mask (the values the Windows event mask uses).
namespace LineEvent {
inline constexpr std::uint32_t RxChar = 0x0001;
inline constexpr std::uint32_t RxFlag = 0x0002;
inline constexpr std::uint32_t TxEmpty = 0x0004;
inline constexpr std::uint32_t Cts = 0x0008;
inline constexpr std::uint32_t Dsr = 0x0010;
inline constexpr std::uint32_t Rlsd = 0x0020;
inline constexpr std::uint32_t Break = 0x0040;
inline constexpr std::uint32_t Err = 0x0080;
inline constexpr std::uint32_t Ring = 0x0100;
inline constexpr std::uint32_t All = 0x01FF;
} // namespace LineEvent

enum class FlowControl { None, Cts, Dsr, Software, CtsDtr };

struct SerialSettings {
    std::uint32_t baudRate = 9600;
    FlowControl flowControl = FlowControl::None;
    // Always 8 data bits, no parity, one stop bit, binary.
};

// How a wait, read or write on the port ended.
struct PortOutcome {
    enum class State { Done, Stopped, Failed };
    State state = State::Failed;
    std::uint32_t events = 0; // waitForEvents, Done: the LineEvent bits seen (0: nothing yet)
    std::size_t bytes = 0;    // read or write, Done: bytes moved

    bool done() const { return state == State::Done; }
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens port `number` exclusively and configures it; false, with the
    // port left closed, when it cannot be opened or configured.
    virtual bool open(std::uint32_t number, const SerialSettings& settings) = 0;
    virtual void close() = 0;
    // Blocks until line events come (Done, with their bits), the stop
    // signal is set, or the backend's own short limit passes (Done with no
    // bits). Failed when the port cannot wait (removed, or not supported).
    virtual PortOutcome waitForEvents(const StopSignal& stop) = 0;
    // Reads up to `capacity` bytes of what has come.
    virtual PortOutcome read(std::uint8_t* buffer, std::size_t capacity, const StopSignal& stop) = 0;
    // Writes all `length` bytes; Done only when every byte was taken.
    virtual PortOutcome write(const std::uint8_t* data, std::size_t length, const StopSignal& stop) = 0;
};

// The system's serial port: "\\.\COMn" on Windows; on Linux the device that
// the pattern in VARNEL_SERIAL_DEVICE_PATTERN names ("%d" stands for the
// number), /dev/ttyS%d when it is not set.
std::unique_ptr<SerialPort> makeSystemSerialPort();

} // namespace platform
