// Registration on Windows: the keys of the registry table written and
// removed, with the module's path filled in, and the type library (resource
// 1) registered and unregistered. Per-user registration, asked for with
// "regsvr32 /n /i:user", writes the HKCR part under HKCU\Software\Classes
// and registers the type library for the user where the system offers that.
#include "plugin/RegistryTable.h"
#include "plugin/VarnelPlugin.h"
#include "platform/windows/utf8_windows.h"

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <iterator>
#include <string>

namespace {

// Set while DllInstall runs for a per-user installation.
std::atomic<bool> perUserRegistration{false};

HRESULT fromWin32(LONG code) {
    return code == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(code));
}

std::wstring wide(std::string_view text) { return platform::wideFromUtf8(std::string(text)); }

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY get() const { return key_; }
    HKEY* put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(thisModule(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

struct KeyLocation {
    HKEY root;
    std::wstring path;
};

// Where a key of the table lands: per-user registration moves the classes
// to the user's own classes.
KeyLocation locate(const RegistryKeyEntry& key) {
    if (key.hive == RegistryHive::LocalMachine) return {HKEY_LOCAL_MACHINE, wide(key.path)};
    if (perUserRegistration) return {HKEY_CURRENT_USER, L"Software\\Classes\\" + wide(key.path)};
    return {HKEY_CLASSES_ROOT, wide(key.path)};
}

LONG ignoringAbsence(LONG code) { return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code; }

LONG deleteTree(const KeyLocation& where) {
    const LONG code = ignoringAbsence(RegDeleteTreeW(where.root, where.path.c_str()));
    if (code != ERROR_SUCCESS) return code;
    // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
    return ignoringAbsence(RegDeleteKeyW(where.root, where.path.c_str()));
}

// Deletes the key unless another program has put a subkey in it.
LONG deleteUnlessInUse(const KeyLocation& where) {
    DWORD subkeys = 0;
    {
        RegKey key;
        const LONG code = RegOpenKeyExW(where.root, where.path.c_str(), 0, KEY_READ, key.put());
        if (code != ERROR_SUCCESS) return ignoringAbsence(code);
        const LONG query = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr);
        if (query != ERROR_SUCCESS) return query;
    }
    return subkeys == 0 ? ignoringAbsence(RegDeleteKeyW(where.root, where.path.c_str())) : ERROR_SUCCESS;
}

LONG setText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG writeKey(const RegistryKeyEntry& entry, const std::wstring& module) {
    const KeyLocation where = locate(entry);
    if (entry.rule == KeyRule::Rewritten) {
        const LONG code = deleteTree(where);
        if (code != ERROR_SUCCESS) return code;
    }
    RegKey key;
    LONG code = RegCreateKeyExW(where.root, where.path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                key.put(), nullptr);
    if (code == ERROR_SUCCESS && !entry.defaultValue.empty())
        code = setText(key.get(), nullptr, entry.defaultValue == modulePathValue ? module : wide(entry.defaultValue));
    if (code == ERROR_SUCCESS && !entry.namedValue.empty())
        code = setText(key.get(), wide(entry.namedValue).c_str(), wide(entry.namedValueData));
    return code;
}

LONG removeKey(const RegistryKeyEntry& entry) {
    switch (entry.rule) {
    case KeyRule::Shared: return ERROR_SUCCESS;
    case KeyRule::Rewritten: return deleteTree(locate(entry));
    case KeyRule::Removed: return deleteUnlessInUse(locate(entry));
    }
    return ERROR_SUCCESS;
}

HRESULT writeKeys() {
    const std::wstring module = modulePath();
    if (module.empty()) return HRESULT_FROM_WIN32(GetLastError());
    for (const auto& entry : registration::keys) {
        const LONG code = writeKey(entry, module);
        if (code != ERROR_SUCCESS) return fromWin32(code);
    }
    return S_OK;
}

// Subkeys before their parents; carries on past a failure so that as little
// as possible is left, and reports the first.
HRESULT removeKeys() {
    LONG first = ERROR_SUCCESS;
    for (auto entry = std::rbegin(registration::keys); entry != std::rend(registration::keys); ++entry) {
        const LONG code = removeKey(*entry);
        if (first == ERROR_SUCCESS) first = code;
    }
    return fromWin32(first);
}

// The per-user type-library calls, where this system has them.
template <class Function>
Function perUserTypeLibFunction(const char* name) {
    HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
    return oleaut ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(oleaut, name))) : nullptr;
}

HRESULT registerTypeLibrary() {
    const std::wstring path = modulePath();
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    using RegisterForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
    auto registerForUser = perUserRegistration ? perUserTypeLibFunction<RegisterForUser>("RegisterTypeLibForUser")
                                               : nullptr;
    std::wstring file = path;
    hr = registerForUser ? registerForUser(library, file.data(), nullptr)
                         : RegisterTypeLib(library, file.data(), nullptr);
    library->Release();
    return hr;
}

// Whether the library of these attributes is registered at all: some systems
// answer the removal of an unregistered library with E_INVALIDARG.
bool isRegistered(const TLIBATTR& attributes) {
    BSTR path = nullptr;
    const HRESULT hr = QueryPathOfRegTypeLib(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum,
                                             attributes.lcid, &path);
    SysFreeString(path);
    return SUCCEEDED(hr);
}

HRESULT unregisterTypeLibrary() {
    const std::wstring path = modulePath();
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        if (isRegistered(*attributes)) {
            using UnregisterForUser = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
            auto unregisterForUser = perUserRegistration
                                         ? perUserTypeLibFunction<UnregisterForUser>("UnRegisterTypeLibForUser")
                                         : nullptr;
            const auto unregister = unregisterForUser ? unregisterForUser : UnRegisterTypeLib;
            hr = unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                            attributes->syskind);
            // Removing what is not there is no failure.
            if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED) hr = S_OK;
        }
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    return hr;
}

} // namespace

extern "C" HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    try {
        HRESULT hr = writeKeys();
        if (SUCCEEDED(hr)) hr = registerTypeLibrary();
        if (FAILED(hr)) removeKeys(); // leave nothing half written
        return hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    try {
        const HRESULT hr = removeKeys();
        const HRESULT typeLibrary = unregisterTypeLibrary();
        return FAILED(hr) ? hr : typeLibrary;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// regsvr32 /i calls this; "/i:user" (with /n, or /u for removal) asks for
// per-user registration.
extern "C" HRESULT STDMETHODCALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    try {
        const bool perUser = commandLine && _wcsicmp(commandLine, L"user") == 0;
        if (commandLine && *commandLine && !perUser) return E_INVALIDARG;
        perUserRegistration = perUser;
        const HRESULT hr = install ? DllRegisterServer() : DllUnregisterServer();
        perUserRegistration = false;
        return hr;
    } catch (...) {
        perUserRegistration = false;
        return E_UNEXPECTED;
    }
}
