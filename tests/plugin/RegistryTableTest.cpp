// The registry table read as registration walks it: parents before their
// subkeys, no key twice. The round trip under Wine (registration.sh) checks
// what lands in the registry.
#include "plugin/RegistryTable.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

int countOf(RegistryHive hive, std::string_view path) {
    int count = 0;
    for (const auto& key : registration::keys) count += key.hive == hive && key.path == path;
    return count;
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
