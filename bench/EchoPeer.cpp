// The echo peer of the link benchmarks: listens on an ephemeral port of
// every local interface, prints the port on its own line, and sends back
// whatever each connection sends, closing a connection once its peer has
// shut down and everything is echoed. Ends when its standard input ends, so
// that it never outlives the script that started it.
#include "platform/socket.h"
#include "platform/stop_signal.h"
#include "platform/thread.h"
#include "platform/wait_limit.h"

#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t echoBufferBytes = 65536;

void echo(platform::Socket& connection, const platform::StopSignal& stop) {
    std::vector<std::uint8_t> buffer(echoBufferBytes);
    for (;;) {
        const platform::SocketOutcome received = connection.receive(buffer.data(), buffer.size(), stop);
        if (!received.done() || received.bytes == 0) return;
        for (std::size_t sent = 0; sent < received.bytes;) {
            const platform::SocketOutcome out = connection.send(buffer.data() + sent, received.bytes - sent, stop);
            if (!out.done()) return;
            sent += out.bytes;
        }
    }
}

} // namespace

int main() {
    int error = 0;
    platform::Socket listener = platform::Socket::create(platform::Socket::Kind::Stream, error);
    if (!listener.valid() || listener.bindAnyAddress(0, true) != 0 || listener.listen(16) != 0) {
        std::fprintf(stderr, "echo peer: cannot listen\n");
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(listener.localPort()));
    std::fflush(stdout);

    platform::StopSignal stop;
    std::list<platform::JoinableThread> echoes; // the acceptor's alone until it has ended
    platform::JoinableThread acceptor([&] {
        while (!stop.isSignalled()) {
            platform::Socket accepted;
            if (!listener.accept(accepted, stop).done()) continue;
            const auto connection = std::make_shared<platform::Socket>(std::move(accepted));
            echoes.emplace_back([connection, &stop] {
                echo(*connection, stop);
                connection->close();
            });
        }
    });
    while (std::getchar() != EOF) {
    }
    stop.signal();
    acceptor.joinFor(platform::waitWithoutLimit);
    echoes.clear(); // each joins its thread, which the stop has ended
    return 0;
}
