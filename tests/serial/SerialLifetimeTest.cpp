// The serial tester's host swapped, removed or failing while link threads run.
#include "SerialHarness.h"
#include "com/ComPtr.h"
#include "com/UntypedDispatch.h"

#include <new>

TEST_F(OpenSerial, HostSwappedAndRemovedWhileTheLinkStreams) {
    RecordingHost other;
    h.link().startStreaming("noise");
    for (int i = 0; i < 200; ++i) {
        h.tester->SetHost(i % 2 ? &h.host : &other);
        h.tester->SetHost(nullptr);
    }
    h.link().stopStreaming();
    h.tester->SetHost(&h.host);
    EXPECT_EQ(other.referenceCount(), 1u) << "every reference taken for a log line is given back";
}

namespace {
// A host whose every log call throws, as one out of memory might.
class FailingHost final : public UntypedDispatch<ITesterHost, IID_ITesterHost> {
public:
    HRESULT STDMETHODCALLTYPE Log(ULONG, BSTR) override { throw std::bad_alloc(); }
};
} // namespace

TEST_F(OpenSerial, FailingHostCannotEndALinkThread) {
    const auto failing = ComPtr<ITesterHost>::adopt(new FailingHost);
    h.tester->SetHost(failing.get());
    std::thread linkThread([this] {
        h.link().receive("abc");
        h.link().raise(CommEvent::DSR);
        h.link().setStatus("scripted");
    });
    linkThread.join();
    h.tester->SetHost(&h.host);
    EXPECT_EQ(h.execute(WaitforAt, {Value(1), Value("'abc'")}).state, ActionResult::Passed);
}
