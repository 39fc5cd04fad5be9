// The system's automation types and calls.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <unknwn.h>
#include <oaidl.h>
