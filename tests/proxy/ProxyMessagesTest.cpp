// The proxy's messages as bytes: cutting chunks into units, log lines, and
// script files read into script text. (Result words: the tester's tests.)
#include "ProxyWire.h"
#include "../support/TempFolder.h"
#include "proxy/ProxyMessages.h"
#include "proxy/ScriptFile.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

Texts split(const std::string& chunk) {
    return proxy::splitUnits(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                             static_cast<std::uint32_t>(chunk.size()));
}

} // namespace

TEST(ProxyMessages, CutsEachChunkOnItsOwn) {
    const std::pair<std::string, Texts> cases[] = {
        {unit("OK") + unit("log:3"), {"OK", "log:3"}},
        {std::string(4, '\0'), {}},
        {unit("") + unit("next"), {"", "next"}},
        {unit("passed", 10), {"passed"}},          // the length runs past the chunk
        {unit("OK") + std::string("\0\0\0", 3), {"OK"}}, // a short tail is dropped
        {unit("OK") + unit("", 0).substr(0, 4), {"OK"}}, // so is a lone length field
        {unit("passed").substr(0, 7), {"pas"}},     // the chunk holds only part of the text
        {unit("sed"), {"sed"}},                     // ...and the rest is a unit of its own
        {unit(std::string("ab\0cd", 5)), {"ab"}},   // a NUL ends the text
    };
    for (const auto& [chunk, messages] : cases) EXPECT_EQ(split(chunk), messages) << testing::PrintToString(chunk);
}

TEST(ProxyMessages, ReadsLogLinesWithTheirRemoteLevel) {
    const std::tuple<const char*, std::uint32_t, const char*> cases[] = {
        {"log:4hello", 4, "hello"},
        {"log:12x", 12, "2x"},     // the level takes every digit, the text starts after one character
        {"log:a", 0, ""},
        {"log: 5 warm", 5, "5 warm"},
        {"log:-1x", 0xFFFFFFFFu, "1x"},
        {"log:6%s %d", 6, "%s %d"},
    };
    for (const auto& [message, level, text] : cases) {
        const auto line = proxy::remoteLogLine(message);
        ASSERT_TRUE(line) << message;
        EXPECT_EQ(std::tie(line->level, line->text), std::make_tuple(level, std::string(text))) << message;
    }
    for (const char* other : {"LOG:3x", "log", "OK", " log:3"}) EXPECT_FALSE(proxy::remoteLogLine(other)) << other;
}

TEST(ScriptFile, JoinsLinesAndStopsAtTheLongLineLimit) {
    const std::string longest(proxy::maxScriptLineLength - 1, 'x');
    const std::string tooLong(proxy::maxScriptLineLength, 'y');
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"first\r\nsecond\n", "first\nsecond\n"},
        {"\n\nx", "x"}, // empty lines before the first text leave no trace
        {"a\r b", "a\r b"},
        {longest + "\nz", longest + "\nz"},
        {tooLong + "\nz\n", tooLong},
        {tooLong + "tail\nz", tooLong},
    };
    TempFolder folder;
    for (const auto& [bytes, text] : cases) {
        folder.write("script.txt", bytes);
        const platform::SharedFile file = platform::openSharedForReading(folder.name("script.txt"));
        ASSERT_TRUE(file);
        EXPECT_EQ(proxy::readScriptText(file.get()), text) << testing::PrintToString(bytes.substr(0, 20));
    }
}
