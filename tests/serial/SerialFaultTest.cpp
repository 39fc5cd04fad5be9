// The serial tester when things go wrong around it: the host aborts each
// action that waits, whatever it waits for.
#include "SerialHarness.h"
#include "tests/support/TempFolder.h"

#include <future>

namespace {

using namespace std::chrono_literals;

// The actions that wait, each set up so that only an abort can end it
// before its 60 s: transmission never reported, nothing received, no line
// event, or an endless stream for clearReceiveQueue (which waits for quiet).
// Where the byte reader waits, the abort comes once it has asked whether the
// link is open a few times (it asks at every poll): its empty read then
// meets the scanf conversion or the file comparison, which fail as they do
// at a deadline.
struct WaitingAction {
    const char* name;
    Position position;
    std::vector<Value> parameters;
    ActionResult result;
    bool readerWaits = false;
    bool transmissionStuck = false;
    bool endlessStream = false;
};

class SerialFaults : public OpenSerial {
protected:
    void SetUp() override {
        OpenSerial::SetUp();
        folder.write("abort.bin", std::string(2500, 'f'));
        Bstr directory(platform::bstrFromNarrow(folder.path().string()));
        ASSERT_EQ(h.tester->SetScriptDirectory(directory.get()), S_OK);
    }
    void abortWhenWaiting(bool readerWaits) {
        const long asked = h.link().isOpenCalls;
        for (int i = 0; readerWaits && i < 1000 && h.link().isOpenCalls < asked + 3; ++i)
            std::this_thread::sleep_for(10ms);
        h.tester->Abort();
    }
    TempFolder folder;
};

TEST_F(SerialFaults, AbortEndsEveryWaitingAction) {
    const WaitingAction actions[] = {
        {"send", Send, {Value(60), Value("stuck")}, Aborted, false, true},
        {"sendFile", SendFile, {Value(60), Value("abort.bin")}, Aborted, false, true},
        {"waitfor", WaitforAt, {Value(60), Value("'never'")}, Aborted, true},
        {"scanf", ScanfAt, {Value(60), Value("%d")}, Failed, true},
        {"compareFile", CompareFile, {Value(60), Value("abort.bin")}, Failed, true},
        // An aborted event wait ends as its timeout does.
        {"waitforEvent", WaitforEvent, {Value(60), Value("RLSD")}, Failed, true},
        {"clearReceiveQueue", ClearReceiveQueue, {}, Aborted, false, false, true},
    };
    for (const WaitingAction& action : actions) {
        SCOPED_TRACE(action.name);
        h.link().reportTransmitted = !action.transmissionStuck;
        if (action.endlessStream) h.link().startStreaming("noise");
        // The frame clears the abort flag before this line, so an abort after it counts.
        std::thread aborter = onceLogged("Action " + std::string(action.name) + " start",
                                         [this, &action] { abortWhenWaiting(action.readerWaits); });
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
