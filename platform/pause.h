// Fixed pauses that are part of the system's behaviour (a destroyed link
// waits for its threads' last callbacks, "delete" waits before the link
// goes). Test executables shorten them all at once; the product never does.
#pragma once

#include <chrono>

namespace platform {

// Waits `length`, or the shortened length a test has set.
void pause(std::chrono::milliseconds length);

// Makes every later pause last `length` instead (0: no wait at all), so a
// suite does not sleep; restoreFullPauses() undoes it.
void shortenPauses(std::chrono::milliseconds length);
void restoreFullPauses();

} // namespace platform
