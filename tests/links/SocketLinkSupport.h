// For the socket links: peers on 127.0.0.1 made with the sockets seam, each
// waiting at most `patience`.
#pragma once

#include "LinkTestSupport.h"
#include "links/SerialCreator.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <string>

// A port that nothing listens on at the moment. Starts the sockets library
// first, as a tester's "new" does through the factory.
inline std::uint16_t freePort() {
    SerialCreator::instance();
    int error = 0;
    platform::Socket probe = platform::Socket::create(platform::Socket::Kind::Stream, error);
    probe.bindAnyAddress(0, false);
    return probe.localPort();
}

// The far end of a connection, driven by the test.
class Peer {
public:
    void listen(std::uint16_t port) {
        int error = 0;
        listener_ = platform::Socket::create(platform::Socket::Kind::Stream, error);
        ASSERT_EQ(listener_.bindAnyAddress(port, true), 0);
        ASSERT_EQ(listener_.listen(1), 0);
    }
    bool accept() { return listener_.accept(connection_, giveUp_.signal()).done(); }
    bool connect(std::uint16_t port) {
        int error = 0;
        connection_ = platform::Socket::create(platform::Socket::Kind::Stream, error);
        return connection_.connect({0x7F000001, port}, giveUp_.signal()).done();
    }
    // Until `length` bytes came, the link shut down, or patience ran out.
    std::string receive(std::size_t length) {
        std::string text;
        std::uint8_t buffer[256];
        while (text.size() < length) {
            const platform::SocketOutcome got = connection_.receive(buffer, sizeof buffer, giveUp_.signal());
            if (!got.done() || got.bytes == 0) break;
            text.append(buffer, buffer + got.bytes);
        }
        return text;
    }
    void hangUp() { connection_.close(); }

private:
    GiveUp giveUp_;
    platform::Socket listener_;
    platform::Socket connection_;
};
