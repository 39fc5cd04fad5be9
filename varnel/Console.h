// `varnel console`: steps typed at a prompt, each run at once against
// testers that stay until the end of input; log lines show as they arrive,
// between steps too. Ctrl-C aborts the running step, or at the prompt just
// gives a new one.
#pragma once

#include "varnel/LogPrinter.h"
#include "varnel/Plugin.h"
#include "varnel/Runner.h"
#include "varnel/Script.h"

#include <optional>

// Runs the optional `setup` script first, keeping its testers and stored
// values for the typed steps. Returns the exit status: 0 at the end of input.
int runConsole(const Plugin& plugin, Runner& runner, LogPrinter& printer, const Definitions& definitions,
               const Script* setup);
