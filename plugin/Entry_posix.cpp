// Unloading the shared library (or ending the process) terminates the module.
#include "plugin/Module.h"

namespace {

struct ModuleLifetime {
    ModuleLifetime() = default;
    ModuleLifetime(const ModuleLifetime&) = delete;
    ModuleLifetime& operator=(const ModuleLifetime&) = delete;
    ~ModuleLifetime() { terminateModule(); }
};

const ModuleLifetime lifetime;

} // namespace
