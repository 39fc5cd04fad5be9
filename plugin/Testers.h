// The testers a creator offers, by index, and what the module releases for
// them when it is unloaded. The plug-in links one table; test plug-ins link
// their own.
#pragma once

#include "quillon/quillon.h"

#include <span>

struct TesterMaker {
    const char* name;                 // the tester's name, for messages
    HRESULT (*make)(ITester** tester); // null: no tester at this index yet
};

// The creator's table: position = the index CreateTester takes.
std::span<const TesterMaker> testerMakers();

// Releases process-wide resources of the testers at module unload.
void releaseTesterResources();
