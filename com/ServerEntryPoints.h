// The entry points every in-process COM server exports, and the shapes a
// program that loads such a server by file calls them through.
#pragma once

#include "platform/automation.h"

extern "C" {
HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
HRESULT STDMETHODCALLTYPE DllCanUnloadNow();
HRESULT STDMETHODCALLTYPE DllRegisterServer();
HRESULT STDMETHODCALLTYPE DllUnregisterServer();
}
using DllGetClassObjectFunction = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
using DllEntryFunction = HRESULT(STDMETHODCALLTYPE*)();
