// Registration where there is no registry.
#include "tests/plugin/PluginModule.h"

TEST_F(PluginDll, RegistrationSucceedsAndWritesNothing) {
    EXPECT_EQ(plugin.entry("DllRegisterServer")(), S_OK);
    EXPECT_EQ(plugin.entry("DllUnregisterServer")(), S_OK);
}
