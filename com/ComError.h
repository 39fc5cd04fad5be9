// A failure carrying an HRESULT and, optionally, a description; thrown by
// handlers and caught by the action frame.
#pragma once

#include "platform/automation.h"

#include <exception>
#include <optional>
#include <string>

class ComError : public std::exception {
public:
    explicit ComError(HRESULT code, std::optional<std::string> description = std::nullopt)
        : code_(code), description_(std::move(description)) {}

    HRESULT code() const noexcept { return code_; }
    const std::optional<std::string>& description() const noexcept { return description_; }
    const char* what() const noexcept override { return "COM error"; }

private:
    HRESULT code_;
    std::optional<std::string> description_;
};
