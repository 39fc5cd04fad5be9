// Log lines: formats that convert only %s are copied without vsnprintf and
// must read exactly as snprintf writes them, cut at the same byte.
#include "com/LineBstr.h"
#include "tester/LogLine.h"
#include "tester/Tester.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string logLine(const char* format, ...) VARNEL_PRINTF(1, 2);
std::string logLine(const char* format, ...) {
    char buffer[logLineCapacity];
    va_list texts, arguments;
    va_start(texts, format);
    va_start(arguments, format);
    const std::size_t length = formatLogLine(buffer, format, texts, arguments);
    va_end(arguments);
    va_end(texts);
    EXPECT_EQ(buffer[length], '\0');
    return std::string(buffer, length);
}

TEST(LogLine, ReadsAsSnprintfWritesIt) {
    const std::string long1022(1022, 'a'), long2000(2000, 'b');
    const std::string cases[][2] = {
        {"Action %s start", "logdata"},
        {"%s", ""},
        {"100%% of %s%%", "caf\xC3\xA9"},
        {long1022 + "%%tail", ""},
        {long1022 + "%s", "xyz"},
        {"%s|", long2000},
    };
    for (const auto& [format, text] : cases) {
        char printed[logLineCapacity];
        std::snprintf(printed, sizeof printed, format.c_str(), text.c_str());
        EXPECT_EQ(logLine(format.c_str(), text.c_str()), printed) << format;
    }
}

// The one BSTR lines are handed over in: each line reads back whole with
// its own length, whatever the line before it was; what it cannot carry
// is declined for the allocating path.
TEST(LogLine, HandedOverInOneReusedBstr) {
    LineBstr line(8);
    for (const std::string_view text : {"12345678", "", "abc", "1234567"}) {
        const BSTR handed = line.assign(text);
        ASSERT_NE(handed, nullptr) << text;
        EXPECT_EQ(SysStringLen(handed), text.size());
        EXPECT_EQ(std::u16string(handed, handed + text.size() + 1), std::u16string(text.begin(), text.end()) + u'\0');
    }
    EXPECT_EQ(line.assign("123456789"), nullptr);
    EXPECT_EQ(line.assign("caf\xC3\xA9"), nullptr);
}

} // namespace
