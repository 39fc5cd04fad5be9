// The registry keys that registration writes and unregistration removes:
// the creator's class with its two program identifiers, and its entry in the
// host's list of tester creators. One row per key, every key after its
// parent. The type library is registered apart, from the DLL's resource 1.
#pragma once

#include <string_view>

enum class RegistryHive {
    Classes,      // HKCR; HKCU\Software\Classes when registering for the user only
    LocalMachine, // HKLM
};

// What unregistration does to a key, and whether registration clears it first.
enum class KeyRule {
    Removed,   // removed on unregistration, unless something else has put a subkey in it
    Shared,    // never removed: other classes and creators live below it
    Rewritten, // removed with everything below it before it is written, and on unregistration
};

struct RegistryKeyEntry {
    RegistryHive hive;
    std::string_view path;                 // below the hive, '\' between names
    KeyRule rule;
    std::string_view defaultValue = {};    // empty: the key has none
    std::string_view namedValue = {};      // the name of its one named value; empty: none
    std::string_view namedValueData = {};
};

// Stands for the plug-in's full path, which registration fills in.
inline constexpr std::string_view modulePathValue = "<module path>";

namespace registration {

using enum RegistryHive;
using enum KeyRule;

// clang-format off
inline constexpr RegistryKeyEntry keys[] = {
//   hive          key                                                                 rule       default value
    {Classes,      "Morvane.VarnelCreator.1",                                          Removed,   "VarnelCreator Class"},
    {Classes,      "Morvane.VarnelCreator.1\\CLSID",                                   Removed,   "{FA7CD81B-D2EA-4134-9481-B09E998F2B34}"},
    {Classes,      "Morvane.VarnelCreator",                                            Removed,   "VarnelCreator Class"},
    {Classes,      "Morvane.VarnelCreator\\CLSID",                                     Removed,   "{FA7CD81B-D2EA-4134-9481-B09E998F2B34}"},
    {Classes,      "Morvane.VarnelCreator\\CurVer",                                    Removed,   "Morvane.VarnelCreator.1"},
    {Classes,      "CLSID",                                                            Shared},
    {Classes,      "CLSID\\{FA7CD81B-D2EA-4134-9481-B09E998F2B34}",                    Rewritten, "VarnelCreator Class"},
    {Classes,      "CLSID\\{FA7CD81B-D2EA-4134-9481-B09E998F2B34}\\ProgID",            Removed,   "Morvane.VarnelCreator.1"},
    {Classes,      "CLSID\\{FA7CD81B-D2EA-4134-9481-B09E998F2B34}\\VersionIndependentProgID",
                                                                                       Removed,   "Morvane.VarnelCreator"},
    {Classes,      "CLSID\\{FA7CD81B-D2EA-4134-9481-B09E998F2B34}\\Programmable",      Rewritten},
    {Classes,      "CLSID\\{FA7CD81B-D2EA-4134-9481-B09E998F2B34}\\InprocServer32",    Removed,   modulePathValue,
                                                                                                  "ThreadingModel", "Free"},
    {Classes,      "CLSID\\{FA7CD81B-D2EA-4134-9481-B09E998F2B34}\\TypeLib",           Removed,   "{253B1681-1ADF-42A9-8CDD-8A21529B5F00}"},
    {LocalMachine, "SOFTWARE",                                                         Shared},
    {LocalMachine, "SOFTWARE\\Morvane",                                                Shared},
    {LocalMachine, "SOFTWARE\\Morvane\\Quillon",                                       Shared},
    {LocalMachine, "SOFTWARE\\Morvane\\Quillon\\TesterCreators",                       Shared},
    {LocalMachine, "SOFTWARE\\Morvane\\Quillon\\TesterCreators\\Morvane.VarnelCreator", Rewritten},
};
// clang-format on

} // namespace registration
