// Our host on Windows: COM started for free threading, and creators found
// the way the Quillon host finds them, through the registry's list of tester
// creators, each made from its program identifier.
#include "varnel/Plugin.h"
#include "platform/windows/utf8_windows.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr const wchar_t* creatorListKey = L"SOFTWARE\\Morvane\\Quillon\\TesterCreators";

std::string narrow(const std::wstring& text) { return platform::utf8FromWide(text); }

std::vector<std::wstring> registeredCreators() {
    HKEY opened = nullptr;
    const LONG code = RegOpenKeyExW(HKEY_LOCAL_MACHINE, creatorListKey, 0, KEY_READ, &opened);
    if (code != ERROR_SUCCESS)
        throw PluginError("no tester creators are registered (HKLM\\" + narrow(creatorListKey) +
                          " is missing; register the plug-in with regsvr32)");
    const std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)> list(opened, RegCloseKey);
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(list.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

} // namespace

ComRuntime::ComRuntime() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
ComRuntime::~ComRuntime() { CoUninitialize(); }

Plugin Plugin::loadRegistered() {
    Plugin plugin;
    // A listed creator that cannot be made is skipped and noted (--list shows
    // it); only a list with no usable creator at all is a failure.
    for (const auto& progId : registeredCreators()) {
        const std::string name = narrow(progId);
        CLSID clsid{};
        HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
        if (FAILED(hr)) {
            plugin.unavailable_.push_back(name + ": no class is registered for it (" + hresultText(hr) + ")");
            continue;
        }
        ComPtr<ITesterCreator> creator;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITesterCreator, creator.putVoid());
        if (FAILED(hr) || !creator) {
            plugin.unavailable_.push_back(name + ": cannot be made (" + hresultText(hr) + ")");
            continue;
        }
        plugin.addCreator(std::move(creator), name);
    }
    if (plugin.creators_.empty()) {
        std::string reasons;
        for (const auto& note : plugin.unavailable_) reasons += "; " + note;
        throw PluginError("no usable tester creator is registered under HKLM\\" + narrow(creatorListKey) + reasons);
    }
    return plugin;
}
