// Winsock counts its starts: every WSAStartup is matched by one WSACleanup.
#include "platform/sockets.h"

#include <winsock2.h>

namespace platform {

void startSocketsLibrary() {
    WSADATA data{};
    WSAStartup(0x0202, &data);
}

void endSocketsLibrary() { WSACleanup(); }

} // namespace platform
