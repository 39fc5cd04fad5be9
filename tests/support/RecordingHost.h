// A host log sink for tests: records every line with its level.
#pragma once

#include "quillon/quillon.h"
#include "platform/text.h"

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

struct LogLine {
    ULONG level;
    std::string text;
};

class RecordingHost final : public ITesterHost {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITesterHost)) {
            *out = static_cast<ITesterHost*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
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
        for (const auto& line : lines)
            if (line.text == text) return true;
        return false;
    }

    // Waits (bounded) until a line with exactly this text has arrived.
    bool waitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock guard(mutex);
        return changed.wait_for(guard, limit, [&] {
            for (const auto& line : lines)
                if (line.text == text) return true;
            return false;
        });
    }

    std::atomic<ULONG> references{1};

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LogLine> lines;
};
