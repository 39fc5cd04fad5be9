// A scan port over a fixed run of received bytes. When the bytes run out,
// the wait ends: the deadline passes (or, if asked, the host aborts), and
// from then on the reader gives 0, as the real reader does.
#pragma once

#include "serial/Scanf.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class FakeScanPort final : public ScanPort {
public:
    explicit FakeScanPort(std::string bytes) : input(std::move(bytes)) {}

    std::uint8_t readByte() override { return next(true); }
    std::uint8_t peekByte() override { return next(false); }
    void skipWhitespace() override {
        for (std::uint8_t b = peekByte(); b == ' ' || b == '\r' || b == '\t' || b == '\n'; b = peekByte()) readByte();
    }
    bool timedOut() const override { return expired; }
    bool aborted() const override { return abortedByHost; }
    bool linkOpen() const override { return true; }

    void deliver(std::int32_t value) override { values.push_back("i:" + std::to_string(value)); }
    void deliver(double value) override {
        char text[64];
        std::snprintf(text, sizeof text, "d:%g", value);
        values.emplace_back(text);
    }
    void deliver(const std::string& value) override { values.push_back("s:" + value); }
    void report(LogLevel level, const std::string& line) override { lines.emplace_back(level, line); }

    std::string unread() const { return input.substr(position); }

    std::string input;
    std::size_t position = 0;
    bool expired = false;
    bool abortedByHost = false;
    bool abortWhenDrained = false; // the bytes running out is an abort, not the deadline
    long readsAfterStop = 0;       // how often the scan asked again after the wait ended
    std::vector<std::string> values;
    std::vector<std::pair<LogLevel, std::string>> lines;

private:
    std::uint8_t next(bool consume) {
        if (expired || abortedByHost) {
            ++readsAfterStop;
            return 0;
        }
        if (position >= input.size()) {
            (abortWhenDrained ? abortedByHost : expired) = true;
            return 0;
        }
        const auto octet = static_cast<std::uint8_t>(input[position]);
        if (consume) ++position;
        return octet;
    }
};
