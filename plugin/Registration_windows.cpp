// Registration on Windows: the class script (resource 102) written to and
// removed from the registry with the module's path filled in, and the type
// library (resource 1) registered and unregistered. Per-user registration,
// asked for with "regsvr32 /n /i:user", writes the HKCR part under
// HKCU\Software\Classes and registers the type library for the user where
// the system offers that.
#include "plugin/RegistryScript.h"
#include "plugin/VarnelPlugin.h"
#include "platform/windows/utf8_windows.h"

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>
#include <utility>

namespace {

constexpr int classScriptResource = 102;

// Set while DllInstall runs for a per-user installation.
std::atomic<bool> perUserRegistration{false};

HRESULT fromWin32(LONG code) {
    return code == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(code));
}

std::wstring wide(const std::string& text) { return platform::wideFromUtf8(text); }
std::string utf8(const std::wstring& text) { return platform::utf8FromWide(text); }

class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : key_(key) {}
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegKey& operator=(RegKey&&) = delete;
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

HRESULT loadScript(int resource, std::string& script) {
    HMODULE module = thisModule();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resource), L"REGISTRY");
    if (!found) return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return HRESULT_FROM_WIN32(GetLastError());
    script.assign(static_cast<const char*>(data), SizeofResource(module, found));
    return S_OK;
}

// The parsed class script with the module's path in it.
HRESULT classScript(std::vector<RegistryRoot>& roots) {
    std::string script;
    HRESULT hr = loadScript(classScriptResource, script);
    if (FAILED(hr)) return hr;
    std::string path = utf8(modulePath());
    for (std::size_t quote = path.find('\''); quote != std::string::npos; quote = path.find('\'', quote + 2))
        path.insert(quote, 1, '\'');
    try {
        roots = parseRegistryScript(expandRegistryScript(script, {{"MODULE", path}}));
    } catch (const RegistryScriptError&) {
        return E_UNEXPECTED;
    }
    return S_OK;
}

// Where a hive of the script lands: per-user registration moves the classes
// root to the user's own classes.
LONG openHive(const std::string& hive, bool forWriting, RegKey& out) {
    if (hive == "HKCR" && perUserRegistration) {
        const REGSAM access = KEY_READ | (forWriting ? KEY_WRITE : 0);
        return RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, access, nullptr, out.put(),
                               nullptr);
    }
    HKEY root = hive == "HKCR" ? HKEY_CLASSES_ROOT
              : hive == "HKLM" ? HKEY_LOCAL_MACHINE
              : hive == "HKCU" ? HKEY_CURRENT_USER
                               : HKEY_USERS;
    return RegOpenKeyExW(root, nullptr, 0, KEY_READ | (forWriting ? KEY_WRITE : 0), out.put());
}

LONG writeValue(HKEY key, const RegistryValue& value) {
    const std::wstring name = wide(value.name);
    const wchar_t* valueName = value.name.empty() ? nullptr : name.c_str();
    if (value.isNumber) {
        const DWORD number = value.number;
        return RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    const std::wstring text = wide(value.text);
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG deleteTree(HKEY parent, const std::wstring& name) {
    const LONG code = RegDeleteTreeW(parent, name.c_str());
    if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS) return code;
    // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
    const LONG removed = RegDeleteKeyW(parent, name.c_str());
    return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
}

LONG registerKey(HKEY parent, const RegistryKey& key) {
    const std::wstring name = wide(key.name);
    if (key.rule == KeyRule::ForceRemove) {
        const LONG code = deleteTree(parent, name);
        if (code != ERROR_SUCCESS) return code;
    }
    RegKey opened;
    LONG code = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, opened.put(),
                                nullptr);
    if (code != ERROR_SUCCESS) return code;
    for (const auto& value : key.values)
        if ((code = writeValue(opened.get(), value)) != ERROR_SUCCESS) return code;
    for (const auto& subkey : key.subkeys)
        if ((code = registerKey(opened.get(), subkey)) != ERROR_SUCCESS) return code;
    return ERROR_SUCCESS;
}

LONG unregisterKey(HKEY parent, const RegistryKey& key) {
    const std::wstring name = wide(key.name);
    if (key.rule == KeyRule::ForceRemove) return deleteTree(parent, name);
    DWORD subkeysLeft = 0;
    {
        RegKey opened;
        LONG code = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, opened.put());
        if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (code != ERROR_SUCCESS) return code;
        for (const auto& subkey : key.subkeys)
            if ((code = unregisterKey(opened.get(), subkey)) != ERROR_SUCCESS) return code;
        if (key.rule == KeyRule::NoRemove) return ERROR_SUCCESS;
        code = RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeysLeft, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr);
        if (code != ERROR_SUCCESS) return code;
    }
    if (subkeysLeft != 0) return ERROR_SUCCESS;
    const LONG code = RegDeleteKeyW(parent, name.c_str());
    return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
}

HRESULT applyScript(const std::vector<RegistryRoot>& roots, bool install) {
    for (const auto& root : roots) {
        RegKey hive;
        LONG code = openHive(root.hive, true, hive);
        if (code != ERROR_SUCCESS) return fromWin32(code);
        for (const auto& key : root.keys) {
            code = install ? registerKey(hive.get(), key) : unregisterKey(hive.get(), key);
            if (code != ERROR_SUCCESS) return fromWin32(code);
        }
    }
    return S_OK;
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
        std::vector<RegistryRoot> roots;
        HRESULT hr = classScript(roots);
        if (FAILED(hr)) return hr;
        hr = applyScript(roots, true);
        if (SUCCEEDED(hr)) hr = registerTypeLibrary();
        if (FAILED(hr)) applyScript(roots, false); // leave nothing half written
        return hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    try {
        std::vector<RegistryRoot> roots;
        HRESULT hr = classScript(roots);
        if (FAILED(hr)) return hr;
        hr = applyScript(roots, false);
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
