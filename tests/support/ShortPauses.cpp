// Linked into every test executable: fixed pauses take no time (see Pauses.h).
#include "platform/pause.h"

namespace {
const bool pausesShortened = (platform::shortenPauses(std::chrono::milliseconds(0)), true);
} // namespace
