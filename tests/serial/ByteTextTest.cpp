// How bytes are shown in traffic and "Seen:" lines.
#include "serial/ByteText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string traceOf(const std::string& bytes) {
    return traceLineFormat("Rx:", reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           static_cast<std::uint32_t>(bytes.size()));
}

TEST(ByteText, EscapesControlHighAndAngleBytes) {
    EXPECT_EQ(escapedBytes(std::string("A<B>\r\n\x7f\xff% ~\0", 12)), "A<3c>B<3e><0d><0a><7f><ff>% ~<00>");
    for (int octet = 0; octet < 256; ++octet) {
        const bool printable = octet >= 32 && octet <= 126 && octet != '<' && octet != '>';
        EXPECT_EQ(isShownAsHex(static_cast<std::uint8_t>(octet)), !printable) << octet;
    }
}

TEST(ByteText, TraceLinesDoublePercentSigns) {
    EXPECT_EQ(traceOf("AB"), "Rx:AB");
    EXPECT_EQ(traceOf("OK\r\n"), "Rx:OK<0d><0a>");
    EXPECT_EQ(traceOf("50%"), "Rx:50%%");
    EXPECT_EQ(traceOf(""), "Rx:");
    EXPECT_EQ(traceLineFormat("Tx:", reinterpret_cast<const std::uint8_t*>("<"), 1), "Tx:<3c>");
}

TEST(ByteText, ChunksUpTo254BytesAreShownWhole) {
    const std::string chunk = std::string("\x01%") + std::string(252, 'A');
    EXPECT_EQ(traceOf(chunk), "Rx:<01>%%" + std::string(252, 'A'));
}

TEST(ByteText, LongChunksKeepTheDataPartAt255Characters) {
    EXPECT_EQ(traceOf(std::string(255, 'A')), "Rx:" + std::string(255, 'A'));
    // A leading '%' shows 254 bytes, a leading control byte 252.
    EXPECT_EQ(traceOf("%" + std::string(254, 'A')), "Rx:%%" + std::string(253, 'A'));
    EXPECT_EQ(traceOf("\x02" + std::string(254, 'A')), "Rx:<02>" + std::string(251, 'A'));
    // Every expansion shortens the shown part again.
    std::string expected = "Rx:";
    for (int i = 0; i < 64; ++i) expected += "<0d>";
    EXPECT_EQ(traceOf(std::string(255, '\r')), expected);
}

} // namespace
