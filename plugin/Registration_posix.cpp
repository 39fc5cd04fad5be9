// Registration where there is no registry: nothing is written or removed,
// and both calls succeed. Programs load the plug-in by its path and ask it
// for its class object directly (DllGetClassObject).
#include "plugin/VarnelPlugin.h"

extern "C" HRESULT STDMETHODCALLTYPE DllRegisterServer() { return S_OK; }

extern "C" HRESULT STDMETHODCALLTYPE DllUnregisterServer() { return S_OK; }
