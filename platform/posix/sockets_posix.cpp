// Sockets need no start-up or clean-up here; the starts are only counted.
#include "platform/sockets.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<int> starts{0};
}

void startSocketsLibrary() { ++starts; }

void endSocketsLibrary() { --starts; }

int socketsLibraryStarts() { return starts.load(); }

} // namespace platform
