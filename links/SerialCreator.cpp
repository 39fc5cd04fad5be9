#include "links/SerialCreator.h"

#include "links/AsciiCase.h"
#include "links/LoopBack.h"
#include "links/PacketSerial.h"
#include "links/ProcessPipe.h"
#include "links/RS232.h"
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

// A packet variant: framing over the link made from its plain name.
template <const char* innerTypeName>
std::unique_ptr<ISerial> makePacket(ISerialClient* client) {
    return std::make_unique<PacketSerial>(client, innerTypeName);
}

constexpr char rs232Name[] = "rs232";
constexpr char tcpName[] = "tcp";

// Type names as scripts write them, compared without regard to case, in
// this order; the first match wins.
const LinkKind linkKinds[] = {
    {rs232Name, make<RS232>},
    {"rs-232", make<RS232>},
    {"rs232pkt", makePacket<rs232Name>},
    {"rs-232pkt", makePacket<rs232Name>},
    {tcpName, make<TCP>},
    {"tcppkt", makePacket<tcpName>},
    {"udp", make<UDP>},
    {"visa", make<VISAComs>},
    {"loopback", make<LoopBack>},
    {"process", make<ProcessPipe>},
};

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
