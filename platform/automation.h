// Automation types (HRESULT, GUID, IUnknown, IDispatch, BSTR, VARIANT,
// SAFEARRAY) and the calls the framework makes on them. Windows uses the
// system's oleaut32; elsewhere a small implementation with the same layout
// and observable behaviour stands in.
#pragma once

#if defined(_WIN32)
#include "platform/windows/automation_windows.h"
#else
#include "platform/posix/automation_posix.h"
#endif
