// The module's life: the class objects it keeps, and what unloading it
// releases.
#pragma once

// Releases the kept class objects and the testers' process-wide resources.
// Called once when the module is unloaded; on Windows not when the process
// is ending, when the system reclaims everything itself.
void terminateModule();
