// Process attach and detach of the DLL.
#include "plugin/Module.h"

#include <windows.h>

// An explicit unload (FreeLibrary: `reserved` null on detach) releases the
// kept class objects and ends the sockets library. When the process is
// ending (`reserved` non-null) the other threads have already been stopped
// wherever they stood, perhaps holding locks, and other DLLs may be detached
// already: under the loader lock the module then touches nothing and leaves
// everything for the system to reclaim.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        try {
            terminateModule();
        } catch (...) {
            // Nothing can be reported from here; the unload goes on.
        }
    }
    return TRUE;
}
