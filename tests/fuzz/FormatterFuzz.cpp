// The message formatter: the part before the first NUL is the format, the
// rest describes the values after it, each a type byte and its data. The
// same bytes also check the fast paths against plain references: the text
// conversions against converting one sequence at a time, and log lines
// against snprintf.
#include "FuzzInput.h"
#include "platform/automation.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "tester/LogLine.h"
#include "tester/Tester.h"
#include "tests/support/Variants.h"
#include "tests/support/WideText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

template <class Number>
Number take(std::string_view& bytes) {
    Number number{};
    const auto count = std::min(sizeof number, bytes.size());
    std::memcpy(&number, bytes.data(), count);
    bytes.remove_prefix(count);
    return number;
}

// Values until the bytes run out: an integer, a double, a text (a length
// byte, then the text), a boolean, or a type the formatter does not take.
void addValues(std::string_view bytes, std::vector<Value>& parameters) {
    while (!bytes.empty()) {
        const auto kind = static_cast<std::uint8_t>(bytes.front());
        bytes.remove_prefix(1);
        switch (kind % 5) {
        case 0: parameters.emplace_back(take<std::int32_t>(bytes)); break;
        case 1: parameters.emplace_back(take<double>(bytes)); break;
        case 2: {
            const auto length = std::min<std::size_t>(take<std::uint8_t>(bytes), bytes.size());
            parameters.emplace_back(std::string(bytes.substr(0, length)));
            bytes.remove_prefix(length);
            break;
        }
        case 3: parameters.push_back(Value::boolean(take<std::uint8_t>(bytes) != 0)); break;
        default: parameters.emplace_back(); break;
        }
    }
}

// A width of a million or more is the script's own request for that much
// padding, which the formatter grants (escapes may stand between a width's
// digits); such inputs only measure the allocator, so they are passed over.
bool asksForHugePadding(std::string_view format) {
    const auto firstPercent = format.find('%');
    if (firstPercent == std::string_view::npos) return false;
    const auto tail = format.substr(firstPercent);
    return std::count_if(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; }) > 6;
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Whole texts convert as their sequences (UTF-16 units, surrogate pairs
// kept together) do one at a time, and bytes come back unchanged.
void checkTextConversion(std::string_view bytes) {
    const std::u16string wide = wideOf(bytes);
    std::u16string wideOneByOne;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = platform::utf8::decode(bytes, at).length;
        wideOneByOne += wideOf(bytes.substr(at, length));
        at += length;
    }
    if (wide != wideOneByOne || narrowOf(wide) != bytes) __builtin_trap();

    // The bytes read as UTF-16 too, with whatever surrogates they hold.
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    std::string narrowOneByOne;
    for (std::size_t at = 0; at < units.size();) {
        const bool pair = isHighSurrogate(units[at]) && at + 1 < units.size() && isLowSurrogate(units[at + 1]);
        narrowOneByOne += narrowOf(units.substr(at, pair ? 2 : 1));
        at += pair ? 2 : 1;
    }
    if (narrowOf(units) != narrowOneByOne) __builtin_trap();
}

// Whether snprintf may be handed the format with four texts: it converts
// nothing but %s and %%, and at most four texts, also past where the line
// is cut (the plain form stops reading there, snprintf does not).
bool convertsFourTextsAtMost(std::string_view format) {
    int texts = 0;
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%') continue;
        if (++at == format.size()) return false;
        if (format[at] == 's') ++texts;
        else if (format[at] != '%') return false;
    }
    return texts <= 4;
}

// A format whose only conversions are %s and %% reads as snprintf prints it.
void checkLogLine(const std::string& format, const std::string& text) {
    if (!convertsFourTextsAtMost(format)) return;
    const char* const texts[] = {"", "x", text.c_str(), "caf\xC3\xA9"};
    std::size_t used = 0;
    char line[logLineCapacity];
    const auto length = formatPlainLogLine(line, format.c_str(), [&] { return texts[used++]; });
    if (!length) __builtin_trap(); // the plain form takes every such format
    char printed[logLineCapacity];
    std::snprintf(printed, sizeof printed, format.c_str(), texts[0], texts[1], texts[2], texts[3]);
    if (std::string_view(line, *length) != printed) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [format, valueBytes] = fuzz::splitAtNul(fuzz::text(data, size));
    if (asksForHugePadding(format)) return -1;
    std::vector<Value> parameters{Value(std::string(format))};
    addValues(valueBytes, parameters);
    // The formatter reads the owned values in place, as one array.
    std::vector<VARIANT> values;
    for (const Value& parameter : parameters) values.push_back(parameter.get());
    std::uint32_t consumed = 0;
    (void)Tester::formatParameters(static_cast<std::uint32_t>(values.size()), values.data(), &consumed);
    if (consumed >= values.size()) __builtin_trap();

    checkTextConversion(fuzz::text(data, size));
    checkLogLine(std::string(format), std::string(valueBytes));
    return 0;
}
