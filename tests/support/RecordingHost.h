// A host log sink for tests: records every line with its level.
#pragma once

#include "com/UntypedDispatch.h"
#include "quillon/quillon.h"
#include "platform/text.h"

#include <algorithm>
#include <condition_variable>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

struct LogLine {
    ULONG level;
    std::string text;
};

// Lives on a test's stack: the maker's reference is never given back, so a
// count that reaches 0 means the tester released more than it took.
class RecordingHost final : public UntypedDispatch<ITesterHost, IID_ITesterHost> {
public:
    HRESULT STDMETHODCALLTYPE Log(ULONG level, BSTR text) override {
        {
            std::lock_guard guard(mutex);
            lines.push_back({level, platform::narrowFromBstr(text)});
        }
        changed.notify_all();
        return S_OK;
    }

    std::vector<LogLine> snapshot() {
        std::lock_guard guard(mutex);
        return lines;
    }

    void clear() {
        std::lock_guard guard(mutex);
        lines.clear();
    }

    bool contains(const std::string& text) {
        std::lock_guard guard(mutex);
        return hasLine(text);
    }

    // Waits (bounded) until a line with exactly this text has arrived.
    bool waitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock guard(mutex);
        return changed.wait_for(guard, limit, [&] { return hasLine(text); });
    }

private:
    bool hasLine(const std::string& text) const {
        return std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) { return line.text == text; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LogLine> lines;
};
