// The process's sockets library. Windows needs it started before any socket
// is made and ended after the last one; elsewhere sockets need no start-up.
// The sockets themselves are in platform/socket.h.
#pragma once

namespace platform {

// Starts the sockets library, version 2.2 on Windows. The result is not
// reported: a link whose socket cannot be made reports that itself.
void startSocketsLibrary();

// Ends one start of the sockets library.
void endSocketsLibrary();

// How many starts made here have not been ended yet.
int socketsLibraryStarts();

} // namespace platform
