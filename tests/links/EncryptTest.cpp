// Encryption on its own: the known vector and the block the Linux build made.
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

TEST(Encrypt, KnownVectorAndFreshKeyStreams) {
    const Encrypt encryptor = encryptorFor("secret");
    EXPECT_EQ(encryptedBlock(encryptor, bytesOf("hello world")), fromHex("0000000b" "fe7994b3d45fd8e90f79db"));
    // Every message starts the key stream from its beginning.
    EXPECT_EQ(encryptedBlock(encryptor, bytesOf("hello")), fromHex("00000005" "fe7994b3d4"));
    EXPECT_EQ(encryptedBlock(encryptor, {}), fromHex("00000000"));
    const Bytes message = bytesOf("the same message twice");
    EXPECT_EQ(encryptedBlock(encryptor, message), encryptedBlock(encryptor, message));
    EXPECT_NE(encryptedBlock(encryptor, message), encryptedBlock("Secret", message)) << "the pass phrase counts";

    const Bytes cipher = fromHex("fe7994b3d45fd8e90f79db");
    Bytes plain{1, 2, 3};
    ASSERT_TRUE(encryptor.decrypt(cipher.data(), static_cast<std::uint32_t>(cipher.size()), plain));
    EXPECT_EQ(plain, bytesOf("hello world"));
    ASSERT_TRUE(encryptor.decrypt(cipher.data(), 0, plain));
    EXPECT_TRUE(plain.empty());
}

// The data file holds a block that the Linux build made from this pass
// phrase and a message of this text followed by every byte value; each
// build must make it and read it alike.
TEST(Encrypt, BothBuildsMakeAndReadTheSameBlock) {
    Bytes message = bytesOf("A block made by the Linux build: ");
    for (int value = 0; value < 256; ++value) message.push_back(static_cast<std::uint8_t>(value));
    std::ifstream file(VARNEL_LINKS_TEST_DATA "/linux-block.bin", std::ios::binary);
    const Bytes stored{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_EQ(stored.size(), message.size() + 4) << "missing or damaged test data file";

    const Encrypt encryptor = encryptorFor("pass phrase shared by both builds");
    EXPECT_EQ(encryptedBlock(encryptor, message), stored);
    Bytes plain;
    ASSERT_TRUE(encryptor.decrypt(stored.data() + 4, static_cast<std::uint32_t>(stored.size() - 4), plain));
    EXPECT_EQ(plain, message);
}
