// The host aborts each action of the serial tester that waits.
#include "SerialHarness.h"
#include "tests/support/TempFolder.h"

#include <future>

namespace {

using namespace std::chrono_literals;

// Each waiting action is set up so that only an abort ends it before its
// 60 s. Where the byte reader waits, the abort comes once it has polled the
// link a few times; its empty read then fails scanf and compareFile as a
// deadline does.
enum class Stall { Reader, Transmission, Stream };

TEST_F(OpenSerial, AbortEndsEveryWaitingAction) {
    TempFolder folder;
    folder.write("abort.bin", std::string(2500, 'f'));
    const Bstr directory(platform::bstrFromNarrow(folder.path().string()));
    ASSERT_EQ(h.tester->SetScriptDirectory(directory.get()), S_OK);
    const struct {
        const char* name;
        Position position;
        std::vector<Value> parameters;
        ActionResult result;
        Stall stall;
    } actions[] = {
        {"send", Send, {Value(60), Value("stuck")}, Aborted, Stall::Transmission},
        {"sendFile", SendFile, {Value(60), Value("abort.bin")}, Aborted, Stall::Transmission},
        {"waitfor", WaitforAt, {Value(60), Value("'never'")}, Aborted, Stall::Reader},
        {"scanf", ScanfAt, {Value(60), Value("%d")}, Failed, Stall::Reader},
        {"compareFile", CompareFile, {Value(60), Value("abort.bin")}, Failed, Stall::Reader},
        // An aborted event wait ends as its timeout does.
        {"waitforEvent", WaitforEvent, {Value(60), Value("RLSD")}, Failed, Stall::Reader},
        {"clearReceiveQueue", ClearReceiveQueue, {}, Aborted, Stall::Stream}, // it waits for quiet
    };
    for (const auto& action : actions) {
        SCOPED_TRACE(action.name);
        h.link().reportTransmitted = action.stall != Stall::Transmission;
        if (action.stall == Stall::Stream) h.link().startStreaming("noise");
        // The frame clears the abort flag before this line, so an abort after it counts.
        const bool readerWaits = action.stall == Stall::Reader;
        std::thread aborter = onceLogged("Action " + std::string(action.name) + " start", [this, readerWaits] {
            const long polled = h.link().isOpenCalls;
            for (int i = 0; readerWaits && i < 1000 && h.link().isOpenCalls < polled + 3; ++i)
                std::this_thread::sleep_for(10ms);
            h.tester->Abort();
        });
        auto running = std::async(std::launch::async, [&] { return h.execute(action.position, action.parameters).state; });
        const bool ended = running.wait_for(30s) == std::future_status::ready;
        h.link().stopStreaming();
        aborter.join();
        ASSERT_TRUE(ended) << "Abort did not end " << action.name;
        EXPECT_EQ(running.get(), action.result);
    }
    h.link().reportTransmitted = true;
    h.link().receive("still here");
    EXPECT_EQ(waitfor(1, "'still here'").state, Passed);
}

} // namespace
