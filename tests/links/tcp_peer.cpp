// A TCP peer in a process of its own, for tests that kill it mid-transfer:
//   tcp_peer connect PORT   a client of 127.0.0.1:PORT
//   tcp_peer serve PORT     a server on PORT
// While connected it sends a kilobyte every millisecond and throws away
// what it receives. It ends by itself after a minute, so that none outlives
// a test that lost track of it.
#include "links/ISerialClient.h"
#include "links/SerialCreator.h"
#include "tests/support/Variants.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

class Discarding final : public ISerialClient {
public:
    void onDataReceived(ISerial*, const std::uint8_t*, std::uint32_t) override {}
    void onDataTransmitted(ISerial*, const std::uint8_t*, std::uint32_t) override {}
    void onOnline() override { online = true; }
    void onOffline() override { online = false; }
    void onCommEvent(ISerial*, CommEvent) override {}
    void onStatusChanged(ISerial*) override {}
    std::atomic<bool> online{false};
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string role = argv[1];
    std::vector<Value> parameters;
    if (role == "connect") parameters.emplace_back("127.0.0.1");
    parameters.emplace_back(std::atoi(argv[2]));
    std::vector<VARIANT> raw;
    for (const Value& value : parameters) raw.push_back(value.get());

    Discarding client;
    const std::unique_ptr<ISerial> link = SerialCreator::instance()->create(&client, "tcp");
    if (!link || !link->open(static_cast<std::uint32_t>(raw.size()), raw.data())) return 1;
    const std::vector<std::uint8_t> block(1024, 'p');
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < end;) {
        if (client.online) link->send(block.data(), static_cast<std::uint32_t>(block.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}
