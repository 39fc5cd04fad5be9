// The registry table read as registration walks it: parents before their
// subkeys, no key twice, and the identifiers the DLL answers for. The round
// trip under Wine (registration.sh) checks what lands in the registry.
#include "plugin/RegistryTable.h"
#include "plugin/VarnelPlugin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string braced(const GUID& id) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2],
                  id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    return text;
}

int countOf(RegistryHive hive, std::string_view path) {
    int count = 0;
    for (const auto& key : registration::keys) count += key.hive == hive && key.path == path;
    return count;
}

const RegistryKeyEntry* find(RegistryHive hive, const std::string& path) {
    for (const auto& key : registration::keys)
        if (key.hive == hive && key.path == path) return &key;
    return nullptr;
}

} // namespace

// A rewritten key listed after one of its subkeys would wipe that subkey out.
TEST(RegistryTable, ListsEachKeyOnceAfterItsParent) {
    for (std::size_t i = 0; i < std::size(registration::keys); ++i) {
        const auto& key = registration::keys[i];
        EXPECT_EQ(countOf(key.hive, key.path), 1) << key.path;
        const std::size_t last = key.path.rfind('\\');
        if (last == std::string_view::npos) continue;
        const std::string_view parent = key.path.substr(0, last);
        bool parentEarlier = false;
        for (std::size_t j = 0; j < i; ++j)
            parentEarlier |= registration::keys[j].hive == key.hive && registration::keys[j].path == parent;
        EXPECT_TRUE(parentEarlier) << key.path;
    }
}

TEST(RegistryTable, EntersTheClassTheDllServes) {
    const std::string classKey = "CLSID\\" + braced(CLSID_VarnelCreator);
    for (const char* subkey : {"", "\\ProgID", "\\VersionIndependentProgID", "\\Programmable"})
        EXPECT_NE(find(RegistryHive::Classes, classKey + subkey), nullptr) << subkey;
    for (const char* progId : {"Morvane.VarnelCreator.1\\CLSID", "Morvane.VarnelCreator\\CLSID"}) {
        const auto* key = find(RegistryHive::Classes, progId);
        ASSERT_NE(key, nullptr) << progId;
        EXPECT_EQ(key->defaultValue, braced(CLSID_VarnelCreator)) << progId;
    }
    const auto* typeLibrary = find(RegistryHive::Classes, classKey + "\\TypeLib");
    ASSERT_NE(typeLibrary, nullptr);
    EXPECT_EQ(typeLibrary->defaultValue, braced(LIBID_VarnelPluginLib));
    const auto* server = find(RegistryHive::Classes, classKey + "\\InprocServer32");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->defaultValue, modulePathValue);
}
