// The loop-back link: whatever is sent comes straight back, inside send.
#include "links/LoopBack.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

TEST(LoopBack, OpenSendClose) {
    RecordingClient client;
    LoopBack link(&client);
    client.name(&link, "loop");
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(sendBytes(link, bytesOf("abc")));
    EXPECT_FALSE(link.close());
    EXPECT_TRUE(client.lines().empty());

    EXPECT_TRUE(link.open(0, nullptr));
    EXPECT_TRUE(link.isOpen());
    EXPECT_FALSE(link.open(0, nullptr));
    EXPECT_EQ(client.lines(), (Lines{"online", "loop status unknown online"}));

    EXPECT_TRUE(sendBytes(link, bytesOf("abc")));
    EXPECT_EQ(client.lines(), (Lines{"loop tx \"abc\"", "loop rx \"abc\""}));

    EXPECT_TRUE(link.close());
    EXPECT_FALSE(link.close());
    EXPECT_EQ(client.lines(), (Lines{"offline", "loop status unknown offline"}));
}

TEST(LoopBack, EncryptedRoundTrip) {
    RecordingClient client;
    LoopBack link(&client);
    client.name(&link, "loop");
    setKey(link, "secret");
    ASSERT_TRUE(link.open(0, nullptr));
    client.lines();
    EXPECT_TRUE(sendBytes(link, bytesOf("hello world")));
    // An empty message is a bare length field, which the receiving side drops.
    EXPECT_TRUE(sendBytes(link, {}));
    EXPECT_EQ(client.lines(),
              (Lines{"loop tx 0000000bfe7994b3d45fd8e90f79db", "loop rx \"hello world\"", "loop tx 00000000"}));
}

TEST(LoopBack, WorksWithoutAClient) {
    auto link = std::make_unique<LoopBack>(nullptr);
    EXPECT_TRUE(link->open(0, nullptr));
    EXPECT_EQ(link->getStatus(), "unknown online");
    EXPECT_TRUE(sendBytes(*link, bytesOf("abc")));
    EXPECT_TRUE(link->close());
    EXPECT_EQ(link->getStatus(), "unknown offline");
}
