// varnel-typelib: registers type library files where nobody has registered
// those libraries yet, and later removes exactly those registrations again.
// register.cmd and unregister.cmd use it to bring the Quillon host's type
// library to a machine without the host, so that scripting clients can call
// the testers by name. It needs only system DLLs.
//
//   varnel-typelib check FILE.tlb...
//       exit 0 when each file's library (its identifier and version) is
//       registered, 1 when one is not
//   varnel-typelib register RECORD FILE.tlb...
//       registers each library that is not registered yet and adds a line
//       for it to the RECORD file
//   varnel-typelib unregister RECORD
//       removes each registration RECORD lists that still names the same
//       file, then deletes RECORD
// Exit status 2: a file could not be read or a registration failed.
#include "com/ComPtr.h"
#include "platform/file.h"
#include "platform/windows/utf8_windows.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int allDone = 0;
constexpr int notAllRegistered = 1;
constexpr int failed = 2;

// One library as the registry knows it.
struct Registration {
    GUID library{};
    WORD major = 0;
    WORD minor = 0;
    LCID locale = 0;
    std::wstring file; // full path of the .tlb
};

std::wstring fullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    return full.empty() ? path : full;
}

std::optional<Registration> readLibraryFile(const std::wstring& path) {
    Registration registration;
    registration.file = fullPath(path);
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(registration.file.c_str(), REGKIND_NONE, library.put());
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(hr)) hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"varnel-typelib: cannot read %ls (0x%08lX)\n", registration.file.c_str(),
                      static_cast<unsigned long>(hr));
        return std::nullopt;
    }
    registration.library = attributes->guid;
    registration.major = attributes->wMajorVerNum;
    registration.minor = attributes->wMinorVerNum;
    registration.locale = attributes->lcid;
    library->ReleaseTLibAttr(attributes);
    return registration;
}

// The file the registry names for this library version; empty when none.
std::wstring registeredFile(const Registration& registration) {
    Bstr path;
    if (FAILED(QueryPathOfRegTypeLib(registration.library, registration.major, registration.minor,
                                     registration.locale, path.put())) ||
        !path.get())
        return {};
    return path.get();
}

std::wstring describe(const Registration& registration) {
    wchar_t guid[40] = L"";
    StringFromGUID2(registration.library, guid, 40);
    return std::wstring(guid) + L' ' + std::to_wstring(registration.major) + L'.' +
           std::to_wstring(registration.minor);
}

// The record: one UTF-8 line per registration, "{GUID} MAJOR.MINOR LCID PATH".
bool appendToRecord(const std::wstring& record, const Registration& registration) {
    const platform::SharedFile file(_wfopen(record.c_str(), L"ab"));
    if (!file) return false;
    const std::string line = platform::utf8FromWide(describe(registration) + L' ' + std::to_wstring(registration.locale) + L' ' +
                                    registration.file) +
                             "\r\n";
    return std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
}

std::optional<Registration> parseRecordLine(const std::wstring& line) {
    Registration registration;
    wchar_t guid[40] = L"";
    unsigned major = 0, minor = 0;
    unsigned long locale = 0;
    int pathStart = 0;
    if (std::swscanf(line.c_str(), L"%39ls %u.%u %lu %n", guid, &major, &minor, &locale, &pathStart) != 4 ||
        pathStart == 0 || FAILED(CLSIDFromString(guid, &registration.library)))
        return std::nullopt;
    registration.major = static_cast<WORD>(major);
    registration.minor = static_cast<WORD>(minor);
    registration.locale = locale;
    registration.file = line.substr(static_cast<std::size_t>(pathStart));
    return registration;
}

std::vector<std::wstring> readRecordLines(const std::wstring& record) {
    std::vector<std::wstring> lines;
    const platform::SharedFile file(_wfopen(record.c_str(), L"rb"));
    if (!file) return lines;
    std::string line;
    for (int c = std::fgetc(file.get());; c = std::fgetc(file.get())) {
        if (c == EOF || c == '\n') {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            if (!line.empty()) lines.push_back(platform::wideFromUtf8(line));
            line.clear();
            if (c == EOF) break;
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    return lines;
}

// Wine registers the long-path form (\\?\C:\...) of the file it was given.
std::wstring withoutLongPathPrefix(const std::wstring& path) {
    constexpr std::wstring_view prefix = L"\\\\?\\";
    return path.starts_with(prefix) ? path.substr(prefix.size()) : path;
}

bool sameFile(const std::wstring& a, const std::wstring& b) {
    const std::wstring left = withoutLongPathPrefix(a), right = withoutLongPathPrefix(b);
    return CompareStringOrdinal(left.c_str(), -1, right.c_str(), -1, TRUE) == CSTR_EQUAL;
}

int check(const std::vector<std::wstring>& files) {
    int status = allDone;
    for (const std::wstring& file : files) {
        const auto registration = readLibraryFile(file);
        if (!registration) return failed;
        const std::wstring registered = registeredFile(*registration);
        if (registered.empty()) {
            std::wprintf(L"not registered: %ls\n", describe(*registration).c_str());
            status = notAllRegistered;
        } else {
            std::wprintf(L"registered: %ls at %ls\n", describe(*registration).c_str(), registered.c_str());
        }
    }
    return status;
}

int registerMissing(const std::wstring& record, const std::vector<std::wstring>& files) {
    for (const std::wstring& file : files) {
        const auto registration = readLibraryFile(file);
        if (!registration) return failed;
        const std::wstring registered = registeredFile(*registration);
        if (!registered.empty()) {
            std::wprintf(L"left as it is: %ls, registered at %ls\n", describe(*registration).c_str(),
                         registered.c_str());
            continue;
        }
        ComPtr<ITypeLib> library;
        const HRESULT hr = LoadTypeLibEx(registration->file.c_str(), REGKIND_REGISTER, library.put());
        if (FAILED(hr)) {
            std::fwprintf(stderr, L"varnel-typelib: cannot register %ls (0x%08lX)\n", registration->file.c_str(),
                          static_cast<unsigned long>(hr));
            return failed;
        }
        if (!appendToRecord(record, *registration)) {
            std::fwprintf(stderr, L"varnel-typelib: cannot write %ls\n", record.c_str());
            return failed;
        }
        std::wprintf(L"registered: %ls at %ls\n", describe(*registration).c_str(), registration->file.c_str());
    }
    return allDone;
}

int unregisterRecorded(const std::wstring& record) {
    int status = allDone;
    for (const std::wstring& line : readRecordLines(record)) {
        const auto registration = parseRecordLine(line);
        if (!registration) {
            std::fwprintf(stderr, L"varnel-typelib: %ls: unreadable line: %ls\n", record.c_str(), line.c_str());
            status = failed;
            continue;
        }
        const std::wstring registered = registeredFile(*registration);
        if (registered.empty() || !sameFile(registered, registration->file)) {
            std::wprintf(L"left as it is: %ls (no longer ours)\n", describe(*registration).c_str());
            continue;
        }
        const HRESULT hr = UnRegisterTypeLib(registration->library, registration->major, registration->minor,
                                             registration->locale, SYS_WIN64);
        if (FAILED(hr)) {
            std::fwprintf(stderr, L"varnel-typelib: cannot unregister %ls (0x%08lX)\n",
                          describe(*registration).c_str(), static_cast<unsigned long>(hr));
            status = failed;
            continue;
        }
        std::wprintf(L"unregistered: %ls\n", describe(*registration).c_str());
    }
    if (status == allDone) _wremove(record.c_str());
    return status;
}

int usage() {
    std::fwprintf(stderr, L"usage: varnel-typelib check FILE.tlb...\n"
                          L"       varnel-typelib register RECORD FILE.tlb...\n"
                          L"       varnel-typelib unregister RECORD\n");
    return failed;
}

int run(const std::vector<std::wstring>& arguments) {
    if (arguments.empty()) return usage();
    const std::wstring& command = arguments[0];
    if (command == L"check" && arguments.size() >= 2) return check({arguments.begin() + 1, arguments.end()});
    if (command == L"register" && arguments.size() >= 3)
        return registerMissing(arguments[1], {arguments.begin() + 2, arguments.end()});
    if (command == L"unregister" && arguments.size() == 2) return unregisterRecorded(arguments[1]);
    return usage();
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return run(std::vector<std::wstring>(argv + 1, argv + argc));
    } catch (...) {
        std::fwprintf(stderr, L"varnel-typelib: out of memory\n");
        return failed;
    }
}
