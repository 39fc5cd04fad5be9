// Conversion between the plug-in's 8-bit text and BSTRs. Windows converts
// with the ANSI code page (the process's inbound, the thread's outbound);
// elsewhere 8-bit text is UTF-8.
#pragma once

#include "platform/automation.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The text of a BSTR as 8-bit text; a null BSTR gives an empty text.
std::string narrowFromBstr(BSTR text);

// A new BSTR holding the 8-bit text; null when memory runs out.
BSTR bstrFromNarrow(std::string_view text);

// A new BSTR holding a file path, from the path's own native form (the
// narrow form of a path need not be in the ANSI code page); null when
// memory runs out.
BSTR bstrFromPath(const std::filesystem::path& path);

} // namespace platform
