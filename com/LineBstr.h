// One BSTR, allocated once, that carries line after line of ASCII text to
// calls that take an [in] BSTR. Such a callee may read the string during
// the call but neither keep nor free it, so the same memory serves every
// line: no allocation per line. The length prefix is rewritten for each
// line and restored before the string is freed.
#pragma once

#include "platform/automation.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

class LineBstr {
public:
    explicit LineBstr(std::size_t capacity) : capacity_(capacity) {}
    ~LineBstr() {
        if (!text_) return;
        setLength(capacity_); // back to what was allocated
        SysFreeString(text_);
    }
    LineBstr(const LineBstr&) = delete;
    LineBstr& operator=(const LineBstr&) = delete;

    // The line as a BSTR, valid until the next call; null when it has a
    // byte outside ASCII (its conversion is the code page's business), is
    // longer than the capacity, or memory runs out.
    BSTR assign(std::string_view line) {
        if (line.size() > capacity_) return nullptr;
        if (!text_ && !(text_ = SysAllocStringLen(nullptr, static_cast<UINT>(capacity_)))) return nullptr;
        // One pass that widens and notes any high bit: vectorised, and
        // the lines are short enough that a wasted pass costs nothing.
        unsigned char bits = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto unit = static_cast<unsigned char>(line[i]);
            bits |= unit;
            text_[i] = unit;
        }
        if (bits >= 0x80) return nullptr;
        text_[line.size()] = 0;
        setLength(line.size());
        return text_;
    }

private:
    void setLength(std::size_t units) {
        const auto bytes = static_cast<std::uint32_t>(units * sizeof(OLECHAR));
        std::memcpy(reinterpret_cast<char*>(text_) - sizeof bytes, &bytes, sizeof bytes);
    }

    std::size_t capacity_;
    BSTR text_ = nullptr;
};
