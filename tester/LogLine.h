// The text of one log line: printf-style, cut to logLineCapacity - 1 bytes
// as the truncating vsnprintf cuts it. Lines whose format converts nothing
// but %s (and writes %% for a percent sign), nearly all of them, are
// copied together without going through vsnprintf.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <optional>

inline constexpr std::size_t logLineCapacity = 1024;

// Writes the line into `buffer` (logLineCapacity bytes, NUL-terminated)
// and returns its length. The caller starts two lists over the same
// arguments: `texts` is read by the %s-only form, `arguments` by vsnprintf
// when that form declines. Starting a second list is a few stores, where
// copying one with va_copy stalls on the stores that just filled it.
std::size_t formatLogLine(char* buffer, const char* format, va_list texts, va_list arguments);

// The %s-only form: `nextText` gives each %s argument in turn. Nothing when
// the format has another conversion or an argument is null (vsnprintf's
// business); the buffer's contents are then unspecified.
template <class NextText>
std::optional<std::size_t> formatPlainLogLine(char* buffer, const char* format, NextText nextText) {
    char* out = buffer;
    char* const last = buffer + logLineCapacity - 1;
    // Once the buffer is full the rest cannot change the line: it is cut
    // there whatever the rest would have printed.
    for (const char* at = format; out < last;) {
        const char c = *at++;
        if (c == '\0') break;
        if (c != '%') {
            *out++ = c;
        } else if (*at == '%') {
            *out++ = '%';
            ++at;
        } else if (*at == 's') {
            const char* text = nextText();
            if (!text) return std::nullopt;
            while (*text != '\0' && out < last) *out++ = *text++;
            ++at;
        } else {
            return std::nullopt;
        }
    }
    *out = '\0';
    return static_cast<std::size_t>(out - buffer);
}
