// The file that the serial tester copies received chunks into, unchanged
// (binary mode) or as readable text (text mode). It is shared between the
// actions that attach and detach it and the link thread that copies into
// it; the last holder closes it.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <memory>
#include <string>

class ReceivedDataLog {
public:
    // A new or truncated file of that name; null when it cannot be created.
    static std::shared_ptr<ReceivedDataLog> create(const std::string& name, bool textOnly);

    ReceivedDataLog(platform::SharedFile file, bool textOnly);

    // Copies one received chunk; on the link's thread, one chunk at a time.
    // Text is flushed with each chunk that ends a line; binary bytes stay
    // buffered until the file is closed. Write errors are not reported.
    void copy(const std::uint8_t* data, std::uint32_t length);

private:
    platform::SharedFile file_;
    const bool textOnly_;
    std::string text_; // the text form of the chunk being copied, kept for its capacity
};
