// Every test executable runs with the system's fixed pauses shortened to
// nothing (ShortPauses.cpp is linked into each), so a suite does not sleep.
// A test that checks a pause's real length holds a FullPauses meanwhile.
#pragma once

#include "platform/pause.h"

struct FullPauses {
    FullPauses() { platform::restoreFullPauses(); }
    ~FullPauses() { platform::shortenPauses(std::chrono::milliseconds(0)); }
    FullPauses(const FullPauses&) = delete;
    FullPauses& operator=(const FullPauses&) = delete;
};
