// Log lines: formats that convert only %s are copied without vsnprintf and
// must read exactly as snprintf writes them, cut at the same byte.
#include "tester/LogLine.h"
#include "tester/Tester.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string logLine(const char* format, ...) VARNEL_PRINTF(1, 2);
std::string logLine(const char* format, ...) {
    char buffer[logLineCapacity];
    va_list arguments;
    va_start(arguments, format);
    const std::size_t length = formatLogLine(buffer, format, arguments);
    va_end(arguments);
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

} // namespace
