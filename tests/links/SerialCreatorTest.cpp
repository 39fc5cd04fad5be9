// The factory: its process-wide instance and the names it rejects.
#include "links/SerialCreator.h"

#include "links/PacketSerial.h"
#include "platform/sockets.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

// The instance's lifetime is the sockets library's: one start when it is
// made, one end when it is released, and a new start for a new instance.
TEST(SerialCreator, OneInstanceUntilReleased) {
    SerialCreator::release(); // whatever an earlier test left
    const int idle = platform::socketsLibraryStarts();
    for (int round = 0; round < 2; ++round) {
        SerialCreator* instance = SerialCreator::instance();
        ASSERT_NE(instance, nullptr);
        EXPECT_EQ(SerialCreator::instance(), instance);
        EXPECT_EQ(platform::socketsLibraryStarts(), idle + 1) << "started once for two calls";
        SerialCreator::release();
        SerialCreator::release(); // nothing left to release
        EXPECT_EQ(platform::socketsLibraryStarts(), idle);
    }
}

// Names of no link kind give none; the packet wrapper makes its wrapped
// link through the factory, and a wrapper of no link opens nothing.
TEST(SerialCreator, UnknownNamesGiveNoLink) {
    RecordingClient client;
    SerialCreator* factory = SerialCreator::instance();
    for (const char* name : {"", "serial", "loopback ", "loopbackpkt", "udppkt", "processpkt", "rs232 ", "visapkt"})
        EXPECT_EQ(factory->create(&client, name), nullptr) << '"' << name << '"';
    EXPECT_EQ(factory->create(&client, nullptr), nullptr);

    {
        PacketSerial orphan(&client, "nosuch");
        EXPECT_FALSE(orphan.open(0, nullptr));
        EXPECT_FALSE(sendBytes(orphan, bytesOf("abc")));
        EXPECT_FALSE(orphan.close());
    }
    EXPECT_TRUE(client.lines().empty());
}
