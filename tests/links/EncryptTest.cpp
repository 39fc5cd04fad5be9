// Encryption on its own: fresh key streams and the block the Linux build made.
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

// The known vector for "hello world", and its decryption, are checked
// through a link in ISerialTest.
TEST(Encrypt, EveryMessageStartsTheKeyStreamAfresh) {
    const Encrypt encryptor = encryptorFor("secret");
    EXPECT_EQ(encryptedBlock(encryptor, bytesOf("hello")), fromHex("00000005" "fe7994b3d4"));
    EXPECT_EQ(encryptedBlock(encryptor, bytesOf("hello")), fromHex("00000005" "fe7994b3d4"));
    EXPECT_EQ(encryptedBlock(encryptor, {}), fromHex("00000000"));
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
