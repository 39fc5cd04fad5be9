// `varnel serve`'s server over a real packet-framed TCP link on 127.0.0.1,
// sent the tester's messages, raw or broken ones included; a scripted
// service stands in for the script runner.
#include "varnel/ProxyServer.h"

#include "tests/links/SocketLinkSupport.h"
#include "tests/proxy/ProxyWire.h"
#include "tests/support/Variants.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class ScriptedService final : public ScriptService {
public:
    // Every script hangs until aborted.
    std::string runScript(const std::string&, const LogSink&) override {
        abortRequested_.waitFor(patience);
        return "aborted";
    }
    void abortScript() override { abortRequested_.signal(); }
    std::string variable(const std::string& name) override { return "[\"" + name + "\", 1]"; }
    void forget() override { ++forgets; }

    std::atomic<int> forgets{0};

private:
    platform::StopSignal abortRequested_;
};

// The tester's side: one message a frame; the answers are length-prefixed units.
struct UnitClient {
    UnitClient(const char* kind, std::uint16_t port) : link(SerialCreator::instance()->create(&recorder, kind)) {
        const Value host("127.0.0.1"), number(static_cast<int>(port));
        VARIANT parameters[2] = {host.get(), number.get()};
        opened = link->open(2, parameters);
    }
    void send(const std::string& message) {
        link->send(reinterpret_cast<const std::uint8_t*>(message.data()), static_cast<std::uint32_t>(message.size()));
    }

    RecordingClient recorder;
    std::unique_ptr<ISerial> link; // goes first: its threads call back into the recorder
    bool opened = false;
};

class Served : public testing::Test {
protected:
    void SetUp() override {
        const Value number(static_cast<int>(port));
        VARIANT parameter = number.get();
        ASSERT_TRUE(server.start("tcppkt", 1, &parameter, ""));
        serving = std::thread([this] { server.serve(stop); });
    }
    void TearDown() override {
        stop.signal();
        serving.join();
    }

    const std::uint16_t port = freePort();
    ScriptedService service;
    ProxyServer server{service, [](const std::string&) {}};
    platform::StopSignal stop;
    std::thread serving;
};

TEST_F(Served, AnswersEachMessageOfTheTester) {
    UnitClient client("tcppkt", port);
    ASSERT_TRUE(client.opened);
    client.send("connect");
    client.send(std::string("hello\0hidden", 12)); // a NUL ends a message
    // An aborted script sends no result word: after the abort's "OK" comes
    // the variable's answer, not a late "aborted".
    client.send("script:hang");
    client.send("abort");
    client.send("variable:after");
    client.send("disconnect");
    client.send("variable:sync"); // answered after the disconnect was handled
    EXPECT_TRUE(client.recorder.waitForReceived(
        unit("OK") + unit("log:6unknown message 'hello' (connect, script:, variable:, abort, disconnect)") +
        unit("OK") + unit("[\"after\", 1]") + unit("[\"sync\", 1]")))
        << testing::PrintToString(client.recorder.lines());
    EXPECT_EQ(service.forgets, 1);
}

TEST_F(Served, ALostConnectionOrABrokenFrameAbortsAndDeletesAndServingGoesOn) {
    {
        UnitClient client("tcppkt", port);
        ASSERT_TRUE(client.opened);
        client.send("connect");
        ASSERT_TRUE(client.recorder.waitForReceived(unit("OK")));
        client.send("script:hang");
    } // the connection drops mid-script: the script is aborted
    {
        UnitClient raw("tcp", port);
        ASSERT_TRUE(raw.opened);
        raw.send(std::string("\0\0", 2)); // half a frame header, then gone
    }
    // The server listens again once the last connection is gone; a
    // "connect" written into a connection it then drops is lost, so the
    // client asks again, as a tester's next action does.
    UnitClient client("tcppkt", port);
    ASSERT_TRUE(client.opened);
    bool answered = false;
    for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        client.send("connect");
        answered = client.recorder.waitForReceived(unit("OK"), std::chrono::milliseconds(500));
    }
    EXPECT_TRUE(answered);
    EXPECT_GE(service.forgets, 1);
}

} // namespace
