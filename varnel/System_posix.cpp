// Our host where there is no COM runtime to start and no registry: the
// plug-in is loaded from its file only.
#include "varnel/Plugin.h"

ComRuntime::ComRuntime() = default;
ComRuntime::~ComRuntime() = default;

Plugin Plugin::loadRegistered() {
    throw PluginError("the registry's list of tester creators exists only on Windows; name the plug-in file with "
                      "--plugin instead");
}
