// The common base of the testers: the host's automation interface, the
// action table with its help texts, the frame around every action, logging
// to the host, the action deadline and abort flag, result values, and the
// printf-like formatter over action parameters.
#pragma once

#include "quillon/quillon.h"
#include "quillon/ActionResult.h"
#include "com/ComPtr.h"
#include "com/DispatchOf.h"
#include "tester/TesterData.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#if defined(__GNUC__)
#define VARNEL_PRINTF(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define VARNEL_PRINTF(formatIndex, firstArg)
#endif

// Type information of ITester3 from the host's type library.
TypeInfoHolder& testerTypeInfo();

class Tester : public ISupportErrorInfo, public DispatchOf<ITester3, testerTypeInfo> {
public:
    Tester(const char* name, const char* version, const char* description);
    virtual ~Tester();
    Tester(const Tester&) = delete;
    Tester& operator=(const Tester&) = delete;

    // Identity table for the reference-counting wrapper, in answer order.
    void* findInterface(REFIID iid) noexcept;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

    // ITester3, slots 7-22
    HRESULT STDMETHODCALLTYPE GetActionCount(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE GetActionName(ULONG index, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE ExecuteAction(ULONG index, SAFEARRAY* parameters, SAFEARRAY** results,
                                            ULONG* result) override;
    HRESULT STDMETHODCALLTYPE GetActionInfo(ULONG index, BSTR* description, SAFEARRAY** parameterLines,
                                            SAFEARRAY** resultLines) override;
    HRESULT STDMETHODCALLTYPE New(SAFEARRAY* parameters, VARIANT_BOOL* ok) override;
    HRESULT STDMETHODCALLTYPE Delete(VARIANT_BOOL* ok) override;
    HRESULT STDMETHODCALLTYPE Abort() override;
    HRESULT STDMETHODCALLTYPE GetName(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetStatus(BSTR* status) override;
    HRESULT STDMETHODCALLTYPE SetHost(ITesterHost* host) override;
    HRESULT STDMETHODCALLTYPE GetVersion(BSTR* version) override;
    HRESULT STDMETHODCALLTYPE SetScriptDirectory(BSTR directory) override;
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override;
    HRESULT STDMETHODCALLTYPE GetNewActionInfo(BSTR* description, SAFEARRAY** parameterLines) override;
    HRESULT STDMETHODCALLTYPE GetTesterFlags(ULONG* flags) override;
    HRESULT STDMETHODCALLTYPE GetChildTester(ULONG index, ITester** tester) override;

    // Sends a printf-style line to the host, cut to 1023 characters; nothing
    // without a host. Callable from any thread.
    void log(LogLevel level, const char* format, ...) VARNEL_PRINTF(3, 4);
    // A line that is already text, sent as it is.
    void logText(LogLevel level, std::string_view line);

    // The action deadline and abort flag that waiting handlers poll.
    void setTimeout(double seconds);
    bool timedOut() const;
    bool aborted() const;
    // What is left of the armed deadline; zero once it has passed.
    std::chrono::milliseconds timeLeft() const;

    // Appends one value to what the running action returns, logging it.
    void addResult(double value);
    void addResult(std::int32_t value);
    void addResult(const std::string& value);
    void addResult(const char* value) { addResult(std::string(value ? value : "")); }
    void addResult(bool value);
    void addResult(const VARIANT& value);

    // Builds a byte string from parameters[0] (the format) over the
    // following parameters; `consumed` receives how many values it used.
    static std::string formatParameters(std::uint32_t count, const VARIANT* parameters,
                                        std::uint32_t* consumed = nullptr);

    const std::string& scriptDirectory() const { return data_.scriptDirectory; }

protected:
    // Registration, from the concrete tester's constructor only.
    void addAction(std::uint32_t actionId, const char* name, const char* description,
                   std::initializer_list<const char*> parameterLines,
                   std::initializer_list<const char*> resultLines);
    void setNewActionHelp(const char* description, std::initializer_list<const char*> parameterLines);

    void setStatusText(std::string text);

    // The concrete tester's operations.
    virtual IUnknown* createChildTester(std::uint32_t index); // owning reference or null
    virtual ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) = 0;
    virtual bool onNew(std::uint32_t count, const VARIANT* parameters);
    virtual bool onDelete();
    virtual std::string statusText();
    virtual std::uint32_t testerFlags();

private:
    ComPtr<ITesterHost> currentHost();
    void appendResult(VARIANT& value);
    const ActionInfo* actionAt(ULONG index) const;

    TesterData data_;
};
