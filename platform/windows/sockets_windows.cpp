// Winsock counts its starts: every WSAStartup is matched by one WSACleanup.
#include "platform/sockets.h"

#include <winsock2.h>

#include <atomic>

namespace platform {

namespace {
std::atomic<int> starts{0};
}

void startSocketsLibrary() {
    WSADATA data{};
    WSAStartup(0x0202, &data);
    ++starts;
}

void endSocketsLibrary() {
    WSACleanup();
    --starts;
}

int socketsLibraryStarts() { return starts.load(); }

} // namespace platform
