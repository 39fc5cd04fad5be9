// The factory: its process-wide instance, the type-name table, the
// loop-back link and the packet wrapper made through it.
#include "links/SerialCreator.h"

#include "links/LoopBack.h"
#include "links/PacketSerial.h"
#include "platform/sockets.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

// The instance's lifetime is the sockets library's: one start when it is
// made, one end when it is released.
TEST(SerialCreator, OneInstanceUntilReleased) {
    SerialCreator::release(); // whatever an earlier test left
    const int idle = platform::socketsLibraryStarts();
    SerialCreator* first = SerialCreator::instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SerialCreator::instance(), first);
    EXPECT_EQ(platform::socketsLibraryStarts(), idle + 1) << "started once for two calls";
    SerialCreator::release();
    EXPECT_EQ(platform::socketsLibraryStarts(), idle);
    SerialCreator::release(); // nothing left to release
    EXPECT_EQ(platform::socketsLibraryStarts(), idle);
    SerialCreator* second = SerialCreator::instance();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(SerialCreator::instance(), second);
    EXPECT_EQ(platform::socketsLibraryStarts(), idle + 1) << "started again for the new instance";
    SerialCreator::release();
    EXPECT_EQ(platform::socketsLibraryStarts(), idle);
}

TEST(SerialCreator, TypeNamesAndTheLoopBackLink) {
    RecordingClient client;
    SerialCreator* factory = SerialCreator::instance();
    // Names of no link kind give none.
    for (const char* name : {"", "serial", "loopback ", "loopbackpkt", "udppkt", "processpkt", "rs232 ", "visapkt"})
        EXPECT_EQ(factory->create(&client, name), nullptr) << '"' << name << '"';
    EXPECT_EQ(factory->create(&client, nullptr), nullptr);

    // The loop-back link; what it reports, and in which order, shows through
    // the packet wrapper below.
    const std::unique_ptr<ISerial> link = factory->create(&client, "LOOPBACK");
    ASSERT_NE(dynamic_cast<LoopBack*>(link.get()), nullptr);
    EXPECT_FALSE(sendBytes(*link, bytesOf("abc"))) << "not open";
    EXPECT_FALSE(link->close());
    EXPECT_TRUE(link->open(0, nullptr));
    EXPECT_FALSE(link->open(0, nullptr));
    EXPECT_TRUE(sendBytes(*link, bytesOf("abc")));
    EXPECT_TRUE(link->close());
}

// The packet wrapper makes its wrapped link through the factory, bound to
// itself rather than to the owner. A loop-back link stands in for the
// byte-stream links that packet framing is meant for.
TEST(SerialCreator, PacketWrapperMakesItsLinkThroughTheFactory) {
    RecordingClient client;
    PacketSerial link(&client, "loopback");
    client.name(&link, "packet");
    EXPECT_EQ(link.getStatus(), "unknown offline");
    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(sendBytes(link, bytesOf("abc")));
    EXPECT_TRUE(link.close());
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(client.lines(), (Lines{"online", "packet status unknown online", "packet status unknown online",
                                     "packet tx \"abc\"", "packet rx \"abc\"", "offline",
                                     "packet status unknown offline", "packet status unknown offline"}));

    auto orphan = std::make_unique<PacketSerial>(&client, "nosuch");
    EXPECT_FALSE(orphan->open(0, nullptr));
    EXPECT_FALSE(orphan->isOpen());
    EXPECT_FALSE(sendBytes(*orphan, bytesOf("abc")));
    EXPECT_FALSE(orphan->close());
    orphan.reset();
    EXPECT_TRUE(client.lines().empty());
}
