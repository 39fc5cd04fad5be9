#include "tester/Tester.h"

#include "platform/clock.h"
#include "platform/text.h"
#include "com/ComError.h"
#include "com/ComPtr.h"
#include "tester/LogLine.h"
#include "tester/Parameters.h"
#include "com/TypeInfoHolder.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <thread>
#include <utility>

TypeInfoHolder& testerTypeInfo() {
    static TypeInfoHolder holder(LIBID_QuillonLib, QuillonLibTesterMajor, QuillonLibTesterMinor, IID_ITester3);
    return holder;
}

namespace {

// Help lines go to the host as a vector of BSTR, or as null when there are none.
HRESULT makeLineArray(const std::vector<std::string>& lines, SAFEARRAY** out) {
    *out = nullptr;
    if (lines.empty()) return S_OK;
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(lines.size()));
    if (!array) return E_OUTOFMEMORY;
    BSTR* items = nullptr;
    HRESULT hr = SafeArrayAccessData(array, reinterpret_cast<void**>(&items));
    if (SUCCEEDED(hr)) {
        for (std::size_t i = 0; i < lines.size(); ++i) items[i] = platform::bstrFromNarrow(lines[i]);
        SafeArrayUnaccessData(array);
    }
    *out = array;
    return S_OK;
}

HRESULT storeText(const std::string& text, BSTR* out) {
    *out = platform::bstrFromNarrow(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Holds a locked parameter array's data for the duration of a call.
class ArrayDataLock {
public:
    explicit ArrayDataLock(SAFEARRAY* array) : array_(array) {
        result_ = SafeArrayAccessData(array, &data_);
    }
    ~ArrayDataLock() { release(); }
    ArrayDataLock(const ArrayDataLock&) = delete;
    ArrayDataLock& operator=(const ArrayDataLock&) = delete;

    HRESULT result() const { return result_; }
    const VARIANT* data() const { return static_cast<const VARIANT*>(data_); }
    void release() {
        if (SUCCEEDED(result_) && array_) SafeArrayUnaccessData(array_);
        array_ = nullptr;
    }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
    HRESULT result_;
};

// Lends the frame's host reference to log lines on the action's thread
// for as long as the action runs.
class FrameHost {
public:
    FrameHost(TesterData& data, ComPtr<ITesterHost> host) : data_(data), host_(std::move(host)) {
        data_.frameHost.store(host_.get(), std::memory_order_relaxed);
        data_.frameThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    ~FrameHost() {
        data_.frameThread.store(std::thread::id(), std::memory_order_relaxed);
        data_.frameHost.store(nullptr, std::memory_order_relaxed);
    }
    FrameHost(const FrameHost&) = delete;
    FrameHost& operator=(const FrameHost&) = delete;

private:
    TesterData& data_;
    const ComPtr<ITesterHost> host_;
};

} // namespace

TesterData::~TesterData() {
    clearResults();
    if (ITesterHost* last = host.load()) last->Release();
}

void TesterData::clearResults() noexcept {
    for (auto& value : results) VariantClear(&value);
    results.clear();
}

Tester::Tester(const char* name, const char* version, const char* description)
    : data_(name ? name : "", version ? version : "", description ? description : "") {}

Tester::~Tester() = default;

void* Tester::findInterface(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITester) || IsEqualIID(iid, IID_ITester1) ||
        IsEqualIID(iid, IID_ITester2) || IsEqualIID(iid, IID_ITester3))
        return static_cast<ITester3*>(this);
    return nullptr;
}

HRESULT Tester::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_ITester) ? S_OK : S_FALSE;
}

const ActionInfo* Tester::actionAt(ULONG index) const {
    return index < data_.actions.size() ? &data_.actions[index] : nullptr;
}

HRESULT Tester::GetActionCount(ULONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<ULONG>(data_.actions.size());
    return S_OK;
}

HRESULT Tester::GetActionName(ULONG index, BSTR* name) {
    if (!name) return E_POINTER;
    const ActionInfo* action = actionAt(index);
    if (!action) return E_INVALIDARG;
    return storeText(action->name, name);
}

HRESULT Tester::ExecuteAction(ULONG index, SAFEARRAY* parameters, SAFEARRAY** results, ULONG* result) {
    if (!result || !parameters || !results) return E_POINTER;
    *results = nullptr;
    data_.clearResults();
    *result = static_cast<ULONG>(ActionResult::Error);
    // Plain stores: no other memory is published with these flags, and a
    // full fence per action costs more than the rest of a short action.
    data_.abortRequested.store(false, std::memory_order_relaxed);

    const ActionInfo* action = actionAt(index);
    if (!action) {
        data_.deadline.store(0, std::memory_order_relaxed);
        return E_INVALIDARG;
    }
    std::optional<FrameHost> frameHost;
    try {
        // Without a host there is nothing to lend and nothing to log.
        if (data_.host.load(std::memory_order_relaxed)) frameHost.emplace(data_, currentHost());
        log(LogLevel::Trace, "Action %s start", action->name.c_str());
    } catch (...) {
        return E_OUTOFMEMORY; // no memory even for the start line
    }

    ArrayDataLock parameterData(parameters);
    if (FAILED(parameterData.result())) {
        *result = static_cast<ULONG>(ActionResult::Failed);
        return S_OK;
    }
    try {
        const auto state = executeAction(action->actionId, elementCount(parameters), parameterData.data());
        *result = static_cast<ULONG>(state);
        parameterData.release();
        data_.deadline.store(0, std::memory_order_relaxed);
        if (data_.results.empty()) return S_OK;

        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(data_.results.size()));
        if (!array) throw ComError(E_OUTOFMEMORY);
        *results = array;
        VARIANT* items = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(array, reinterpret_cast<void**>(&items)))) {
            for (std::size_t i = 0; i < data_.results.size(); ++i) {
                items[i] = data_.results[i]; // the element takes the value over
                VariantInit(&data_.results[i]);
            }
            SafeArrayUnaccessData(array);
        }
        data_.clearResults();
        return S_OK;
    } catch (const ComError& error) {
        parameterData.release();
        data_.deadline.store(0, std::memory_order_relaxed);
        try {
            log(LogLevel::Error, "COM Exception during Action %s %08X %s", action->name.c_str(),
                static_cast<unsigned>(error.code()),
                error.description() ? error.description()->c_str() : "(null)");
        } catch (...) {
            // The line is lost for lack of memory; the state still tells.
        }
    } catch (...) {
        parameterData.release();
        data_.deadline.store(0, std::memory_order_relaxed);
        try {
            log(LogLevel::Error, "Unknown exception  during Action %s", action->name.c_str());
        } catch (...) {
            // As above.
        }
    }
    *result = static_cast<ULONG>(ActionResult::Failed);
    return S_OK;
}

HRESULT Tester::GetActionInfo(ULONG index, BSTR* description, SAFEARRAY** parameterLines, SAFEARRAY** resultLines) {
    if (!description || !parameterLines || !resultLines) return E_POINTER;
    const ActionInfo* action = actionAt(index);
    if (!action) return E_INVALIDARG;
    HRESULT hr = storeText(action->description, description);
    if (FAILED(hr)) return hr;
    hr = makeLineArray(action->parameterLines, parameterLines);
    if (FAILED(hr)) return hr;
    return makeLineArray(action->resultLines, resultLines);
}

HRESULT Tester::New(SAFEARRAY* parameters, VARIANT_BOOL* ok) {
    if (!ok) return E_POINTER;
    ArrayDataLock parameterData(parameters);
    if (FAILED(parameterData.result())) return parameterData.result();
    try {
        *ok = onNew(elementCount(parameters), parameterData.data()) ? VARIANT_TRUE : VARIANT_FALSE;
    } catch (...) {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT Tester::Delete(VARIANT_BOOL* ok) {
    if (!ok) return E_POINTER;
    try {
        *ok = onDelete() ? VARIANT_TRUE : VARIANT_FALSE;
    } catch (...) {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT Tester::Abort() {
    data_.abortRequested = true;
    return S_OK;
}

HRESULT Tester::GetName(BSTR* name) {
    if (!name) return E_POINTER;
    return storeText(data_.name, name);
}

HRESULT Tester::GetStatus(BSTR* status) {
    if (!status) return E_POINTER;
    try {
        std::string text = statusText();
        const std::int32_t now = platform::tickMs();
        const std::int32_t deadline = data_.deadline;
        if (deadline > now) {
            // Once the clock has wrapped negative the difference can exceed 32 bits.
            const std::int64_t seconds = (std::int64_t{deadline} - now) / 1000;
            if (seconds != 0) text += " (Timeout in " + std::to_string(seconds) + " sec)";
        }
        return storeText(text, status);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT Tester::SetHost(ITesterHost* host) {
    if (host) host->AddRef();
    ComPtr<ITesterHost> previous;
    {
        const std::lock_guard guard(data_.hostLock);
        previous = ComPtr<ITesterHost>::adopt(data_.host.exchange(host));
    }
    previous.reset(); // released outside the lock: the host may call back
    try {
        log(LogLevel::Info, "Tester: '%s' Version '%s'", data_.name.c_str(), data_.version.c_str());
    } catch (...) {
    }
    return S_OK;
}

HRESULT Tester::GetVersion(BSTR* version) {
    if (!version) return E_POINTER;
    return storeText(data_.version, version);
}

HRESULT Tester::SetScriptDirectory(BSTR directory) {
    try {
        data_.scriptDirectory = platform::narrowFromBstr(directory);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT Tester::GetDescription(BSTR* description) {
    if (!description) return E_POINTER;
    return storeText(data_.description, description);
}

HRESULT Tester::GetNewActionInfo(BSTR* description, SAFEARRAY** parameterLines) {
    if (!description || !parameterLines) return E_POINTER;
    const HRESULT hr = storeText(data_.newActionDescription, description);
    if (FAILED(hr)) return hr;
    return makeLineArray(data_.newActionParameterLines, parameterLines);
}

HRESULT Tester::GetTesterFlags(ULONG* flags) {
    if (!flags) return E_POINTER;
    *flags = testerFlags();
    return S_OK;
}

HRESULT Tester::GetChildTester(ULONG index, ITester** tester) {
    if (!tester) return E_POINTER;
    *tester = nullptr;
    IUnknown* child = createChildTester(index);
    if (!child) return S_OK;
    const HRESULT hr = child->QueryInterface(IID_ITester, reinterpret_cast<void**>(tester));
    child->Release();
    return hr;
}

ComPtr<ITesterHost> Tester::currentHost() {
    const std::lock_guard guard(data_.hostLock);
    ITesterHost* host = data_.host.load(std::memory_order_relaxed);
    if (host) host->AddRef();
    return ComPtr<ITesterHost>::adopt(host);
}

void Tester::log(LogLevel level, const char* format, ...) {
    // Without a host the line is not even formatted.
    if (!data_.host.load(std::memory_order_relaxed)) return;
    char buffer[logLineCapacity];
    va_list texts, arguments;
    va_start(texts, format);
    va_start(arguments, format);
    const std::size_t length = formatLogLine(buffer, format, texts, arguments);
    va_end(arguments);
    va_end(texts);
    logText(level, {buffer, length});
}

void Tester::logText(LogLevel level, std::string_view line) {
    ITesterHost* const current = data_.host.load(std::memory_order_relaxed);
    if (!current) return;
    // The line needs a counted reference: SetHost on another thread may
    // swap the host and release the old one while the line is on its way
    // to it. The running action's frame holds one for its own thread.
    ComPtr<ITesterHost> counted;
    ITesterHost* host = current;
    if (data_.frameThread.load(std::memory_order_relaxed) != std::this_thread::get_id() ||
        data_.frameHost.load(std::memory_order_relaxed) != current) {
        counted = currentHost();
        host = counted.get();
        if (!host) return;
    }
    if (!counted && !data_.frameLineBusy) {
        if (BSTR text = data_.frameLine.assign(line)) {
            data_.frameLineBusy = true;
            host->Log(static_cast<ULONG>(level), text);
            data_.frameLineBusy = false;
            return;
        }
    }
    const Bstr text(platform::bstrFromNarrow(line));
    if (!text.get()) throw ComError(E_OUTOFMEMORY);
    host->Log(static_cast<ULONG>(level), text.get());
}

void Tester::setTimeout(double seconds) {
    // 32-bit clock arithmetic that wraps. A product outside the 32-bit range
    // counts as the lowest value, as the processor's conversion gives it.
    const double offset = seconds * -1000.0;
    const bool representable = offset > -2147483649.0 && offset < 2147483648.0;
    const auto ticks = static_cast<std::uint32_t>(representable ? static_cast<std::int32_t>(offset) : INT32_MIN);
    data_.deadline.store(static_cast<std::int32_t>(static_cast<std::uint32_t>(platform::tickMs()) - ticks),
                         std::memory_order_relaxed);
}

bool Tester::timedOut() const {
    return platform::tickMs() > data_.deadline;
}

std::chrono::milliseconds Tester::timeLeft() const {
    const std::int64_t left = std::int64_t{data_.deadline} - platform::tickMs();
    return std::chrono::milliseconds(left > 0 ? left : 0);
}

bool Tester::aborted() const {
    return data_.abortRequested;
}

void Tester::appendResult(VARIANT& value) {
    try {
        data_.results.push_back(value);
    } catch (...) {
        VariantClear(&value);
        throw ComError(E_OUTOFMEMORY);
    }
}

void Tester::addResult(double value) {
    log(LogLevel::Trace, "Double %g added", value);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    appendResult(v);
}

void Tester::addResult(std::int32_t value) {
    // "Integer %d added", put together without printf: scanf adds one per number.
    if (data_.host.load(std::memory_order_relaxed)) {
        constexpr std::string_view head = "Integer ", tail = " added";
        char line[head.size() + 11 + tail.size()];
        char* end = std::copy(head.begin(), head.end(), line);
        end = std::to_chars(end, line + head.size() + 11, value).ptr;
        end = std::copy(tail.begin(), tail.end(), end);
        logText(LogLevel::Trace, {line, static_cast<std::size_t>(end - line)});
    }
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    appendResult(v);
}

void Tester::addResult(const std::string& value) {
    log(LogLevel::Trace, "String \"%s\" added", value.c_str());
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = platform::bstrFromNarrow(value);
    if (!v.bstrVal) throw ComError(E_OUTOFMEMORY);
    appendResult(v);
}

void Tester::addResult(bool value) {
    log(LogLevel::Trace, "Bool %s added", value ? "true" : "false");
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    appendResult(v);
}

void Tester::addResult(const VARIANT& value) {
    switch (value.vt) {
    case VT_EMPTY: addResult(std::string()); break;
    case VT_I2: addResult(static_cast<std::int32_t>(value.iVal)); break;
    case VT_I4: addResult(static_cast<std::int32_t>(value.lVal)); break;
    case VT_R8: addResult(value.dblVal); break;
    case VT_BSTR: addResult(platform::narrowFromBstr(value.bstrVal)); break;
    case VT_BOOL: addResult(value.boolVal == VARIANT_TRUE); break;
    default: log(LogLevel::Error, "Value type %d not known", static_cast<int>(value.vt)); break;
    }
}

void Tester::addAction(std::uint32_t actionId, const char* name, const char* description,
                       std::initializer_list<const char*> parameterLines,
                       std::initializer_list<const char*> resultLines) {
    ActionInfo& action = data_.actions.emplace_back();
    action.actionId = actionId;
    action.name = name ? name : "";
    action.description = description ? description : "";
    // A help line that cannot be stored empties its list and ends this
    // action's registration; the row itself stays.
    try {
        for (const char* line : parameterLines) action.parameterLines.emplace_back(line);
    } catch (const std::bad_alloc&) {
        action.parameterLines.clear();
        return;
    }
    try {
        for (const char* line : resultLines) action.resultLines.emplace_back(line);
    } catch (const std::bad_alloc&) {
        action.resultLines.clear();
    }
}

void Tester::setNewActionHelp(const char* description, std::initializer_list<const char*> parameterLines) {
    data_.newActionDescription = description ? description : "";
    try {
        for (const char* line : parameterLines) data_.newActionParameterLines.emplace_back(line);
    } catch (const std::bad_alloc&) {
        data_.newActionParameterLines.clear();
    }
}

void Tester::setStatusText(std::string text) {
    std::lock_guard guard(data_.lock);
    data_.statusText = std::move(text);
}

IUnknown* Tester::createChildTester(std::uint32_t) { return nullptr; }
bool Tester::onNew(std::uint32_t, const VARIANT*) { return true; }
bool Tester::onDelete() { return true; }
std::uint32_t Tester::testerFlags() { return 0; }

std::string Tester::statusText() {
    std::lock_guard guard(data_.lock);
    return data_.statusText;
}
