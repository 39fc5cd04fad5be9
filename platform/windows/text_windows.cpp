// BSTRs to and from the ANSI code page: inbound with the process's code page,
// outbound with the calling thread's.
#include "platform/text.h"

namespace platform {

std::string narrowFromBstr(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) return {};
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), bytes, nullptr, nullptr);
    return out;
}

BSTR bstrFromNarrow(std::string_view text) {
    const int length = static_cast<int>(text.size());
    if (length == 0) return SysAllocStringLen(nullptr, 0);
    const int chars = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
    if (out) MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, out, chars);
    return out;
}

BSTR bstrFromPath(const std::filesystem::path& path) {
    const std::wstring& native = path.native(); // UTF-16, as a BSTR holds it
    return SysAllocStringLen(native.data(), static_cast<UINT>(native.size()));
}

} // namespace platform
