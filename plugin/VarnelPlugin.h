// The plug-in's own identifiers and its creator interface, as the type
// library VarnelPluginLib (VarnelPlugin.idl) describes them.
#pragma once

#include "com/ServerEntryPoints.h"
#include "quillon/quillon.h"

inline constexpr CLSID CLSID_VarnelCreator = {0xFA7CD81B, 0xD2EA, 0x4134, {0x94, 0x81, 0xB0, 0x9E, 0x99, 0x8F, 0x2B, 0x34}};
inline constexpr GUID LIBID_VarnelPluginLib = {0x253B1681, 0x1ADF, 0x42A9, {0x8C, 0xDD, 0x8A, 0x21, 0x52, 0x9B, 0x5F, 0x00}};
inline constexpr IID IID_IVarnelCreator = {0xC6D0210B, 0x9F61, 0x47FE, {0x81, 0xEC, 0xAA, 0xB0, 0x03, 0xE3, 0xEA, 0x7B}};

inline constexpr WORD VarnelPluginLibMajor = 2;
inline constexpr WORD VarnelPluginLibMinor = 0;

// The creator's own dual interface: nothing beyond IDispatch.
struct IVarnelCreator : IDispatch {
protected:
    ~IVarnelCreator() = default;
};
