#include "links/RS232.h"

#include "links/AsciiCase.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t receiveBufferSize = 2048;
// After a failed wait or read (a removed device fails every call), the
// reader tries again after this pause rather than spinning a processor.
constexpr std::chrono::milliseconds failurePause{10};

struct FlowControlRow {
    std::string_view name;
    platform::FlowControl flowControl;
};

const FlowControlRow flowControlRows[] = {
    {"CTS", platform::FlowControl::Cts},
    {"DSR", platform::FlowControl::Dsr},
    {"Software", platform::FlowControl::Software},
    {"CTS+DTR", platform::FlowControl::CtsDtr},
};

const FlowControlRow* flowControlRow(std::string_view name) {
    const auto found = std::find_if(std::begin(flowControlRows), std::end(flowControlRows),
                                    [name](const FlowControlRow& row) { return equalIgnoringCase(row.name, name); });
    return found == std::end(flowControlRows) ? nullptr : found;
}

struct EventRow {
    std::uint32_t bit;
    CommEvent event;
};

// The order in which one wait's events are reported: RXCHAR last, so that
// the data read after it follows its event.
const EventRow eventOrder[] = {
    {platform::LineEvent::Break, CommEvent::Break},     {platform::LineEvent::Cts, CommEvent::CTS},
    {platform::LineEvent::Dsr, CommEvent::DSR},         {platform::LineEvent::Err, CommEvent::ERR},
    {platform::LineEvent::Ring, CommEvent::RING},       {platform::LineEvent::Rlsd, CommEvent::RLSD},
    {platform::LineEvent::RxFlag, CommEvent::RXFLAG},   {platform::LineEvent::TxEmpty, CommEvent::TXEMPTY},
    {platform::LineEvent::RxChar, CommEvent::RXCHAR},
};

} // namespace

RS232::RS232(ISerialClient* client) : RS232(client, platform::makeSystemSerialPort()) {}

RS232::RS232(ISerialClient* client, std::unique_ptr<platform::SerialPort> port)
    : ISerial(client), port_(std::move(port)) {}

RS232::~RS232() { close(); }

bool RS232::open(std::uint32_t parameterCount, const VARIANT* parameters) {
    flowControl_ = "None";
    if (parameterCount < 2 || parameters[0].vt != VT_I4 || parameters[1].vt != VT_I4) return false;
    portNumber_ = static_cast<std::uint32_t>(parameters[0].lVal);
    baudRate_ = static_cast<std::uint32_t>(parameters[1].lVal);
    if (parameterCount >= 3 && parameters[2].vt == VT_BSTR) {
        std::string text = platform::narrowFromBstr(parameters[2].bstrVal);
        if (flowControlRow(text)) flowControl_ = std::move(text);
    }
    setStatus("rs232 com" + std::to_string(portNumber_) + "," + std::to_string(baudRate_) + "," + flowControl_);
    return openPort();
}

bool RS232::openPort() {
    if (open_ || !port_) return false;
    const FlowControlRow* row = flowControlRow(flowControl_);
    const platform::SerialSettings settings{baudRate_, row ? row->flowControl : platform::FlowControl::None};
    if (!port_->open(portNumber_, settings)) return false;
    open_ = true;
    if (!threads_.start([this] { readerLoop(); }, [this] { writerLoop(); })) {
        open_ = false;
        port_->close();
        return false;
    }
    setOnline(true);
    return true;
}

bool RS232::close() {
    if (!open_.exchange(false)) return true;
    // A thread that has not ended still uses the port: it stays open then.
    if (threads_.stop()) port_->close();
    return true;
}

bool RS232::isOpen() { return open_; }

bool RS232::write(const std::uint8_t* data, std::uint32_t length) { return open_ && threads_.queue.push(data, length); }

void RS232::readerLoop() {
    const platform::StopSignal& stop = threads_.stopSignal;
    std::vector<std::uint8_t> buffer(receiveBufferSize);
    while (!stop.isSignalled()) {
        const platform::PortOutcome waited = port_->waitForEvents(stop);
        if (waited.state == platform::PortOutcome::State::Failed) {
            stop.waitFor(failurePause);
            continue;
        }
        if (!waited.done()) continue;
        reportEvents(waited.events);
        if (!(waited.events & platform::LineEvent::RxChar)) continue;
        const platform::PortOutcome got = port_->read(buffer.data(), buffer.size(), stop);
        if (got.done() && got.bytes > 0)
            deliverReceived(buffer.data(), static_cast<std::uint32_t>(got.bytes));
        else if (got.state == platform::PortOutcome::State::Failed)
            stop.waitFor(failurePause);
    }
    open_ = false;
    setOnline(false);
}

void RS232::reportEvents(std::uint32_t events) {
    for (const EventRow& row : eventOrder)
        if (events & row.bit) reportCommEvent(row.event);
}

void RS232::writerLoop() {
    const platform::StopSignal& stop = threads_.stopSignal;
    TransmitQueue::Run run;
    while (threads_.queue.take(run, [] { return true; })) {
        run.forEachBlock([&](const std::uint8_t* block, std::uint32_t length) {
            if (length > 0 && port_->write(block, length, stop).done()) reportTransmitted(block, length);
        });
        threads_.queue.recycle(std::move(run));
    }
}
