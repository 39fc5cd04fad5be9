// Sockets need no start-up or clean-up here.
#include "platform/sockets.h"

namespace platform {

void startSocketsLibrary() {}

void endSocketsLibrary() {}

} // namespace platform
