// A TCP peer in a process of its own, for tests that kill it mid-transfer:
//   tcp_peer connect PORT   a client of 127.0.0.1:PORT
//   tcp_peer serve PORT     a server on PORT
// While connected it sends a kilobyte every millisecond and throws away
// what it receives. It ends by itself after a minute, so that none outlives
// a test that lost track of it.
#include "LinkTestSupport.h"
#include "links/SerialCreator.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::vector<Value> parameters;
    if (std::string(argv[1]) == "connect") parameters.emplace_back("127.0.0.1");
    parameters.emplace_back(std::atoi(argv[2]));
    const std::unique_ptr<ISerial> link = SerialCreator::instance()->create(nullptr, "tcp");
    if (!link || !openWith(*link, parameters)) return 1;
    const Bytes block(1024, 'p');
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < end;) {
        if (link->isOnline()) sendBytes(*link, block);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}
