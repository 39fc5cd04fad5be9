#include "links/SerialCreator.h"

#include "links/LoopBack.h"
#include "links/PacketSerial.h"
#include "links/ProcessPipe.h"
#include "links/TCP.h"
#include "links/UDP.h"
#include "links/VISAComs.h"
#include "platform/sockets.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string_view>
#include <utility>

namespace {

using LinkMaker = std::unique_ptr<ISerial> (*)(ISerialClient* client);

template <typename Link>
std::unique_ptr<ISerial> make(ISerialClient* client) {
    return std::make_unique<Link>(client);
}

struct LinkKind {
    const char* typeName;
    LinkMaker make; // null while that kind of link is not part of the build
};

// Type names as scripts write them, compared without regard to case, in
// this order; the first match wins. A packet variant wraps the link made
// from its plain name, e.g.
//   [](ISerialClient* client) -> std::unique_ptr<ISerial> {
//       return std::make_unique<PacketSerial>(client, "tcp"); }
const LinkKind linkKinds[] = {
    {"rs232", nullptr},
    {"rs-232", nullptr},
    {"rs232pkt", nullptr},
    {"rs-232pkt", nullptr},
    {"tcp", make<TCP>},
    {"tcppkt", [](ISerialClient* client) -> std::unique_ptr<ISerial> {
         return std::make_unique<PacketSerial>(client, "tcp");
     }},
    {"udp", make<UDP>},
    {"visa", make<VISAComs>},
    {"loopback", make<LoopBack>},
    {"process", make<ProcessPipe>},
};

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Only ASCII letters fold: type names are ASCII, and the locale plays no part.
bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// The instance lives in a plain pointer rather than a static owner, so that
// an instance still present at process exit is not destroyed there: ending
// the sockets library while the module is being unloaded is not allowed on
// Windows. The module releases the instance explicitly before that.
SerialCreator* instanceSlot = nullptr;
std::mutex instanceLock;

} // namespace

SerialCreator::SerialCreator() { platform::startSocketsLibrary(); }

SerialCreator::~SerialCreator() { platform::endSocketsLibrary(); }

SerialCreator* SerialCreator::instance() {
    const std::lock_guard lock(instanceLock);
    // make_unique cannot reach the private constructor.
    if (!instanceSlot) instanceSlot = std::unique_ptr<SerialCreator>(new SerialCreator()).release();
    return instanceSlot;
}

void SerialCreator::release() {
    std::unique_ptr<SerialCreator> released;
    const std::lock_guard lock(instanceLock);
    released.reset(std::exchange(instanceSlot, nullptr));
}

std::unique_ptr<ISerial> SerialCreator::create(ISerialClient* client, const char* typeName) {
    if (!typeName) return nullptr;
    const auto kind = std::find_if(std::begin(linkKinds), std::end(linkKinds),
                                   [typeName](const LinkKind& k) { return equalIgnoringCase(k.typeName, typeName); });
    if (kind == std::end(linkKinds) || !kind->make) return nullptr;
    try {
        return kind->make(client);
    } catch (...) {
        // A link that fails while it is being made has released what it took.
        return nullptr;
    }
}
