// The format language of the "scanf" action: received bytes are read under
// the control of a format resembling the C library's scanf, and the
// converted values are handed on as the action's result values.
//
// Where it differs from scanf: blanks and the escapes \n, \t, \r in the
// format match nothing; received white space before a literal is skipped;
// a width applies only to scan sets; the byte that ends a scan set is
// consumed; the whole scan runs under one deadline.
#pragma once

#include "tester/Tester.h"

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>

// What a scan reads from and reports to. The reader gives 0 when a wait
// ended without a byte (deadline, abort or closed link).
class ScanPort {
public:
    virtual ~ScanPort() = default;

    virtual std::uint8_t readByte() = 0;
    virtual std::uint8_t peekByte() = 0;
    virtual void skipWhitespace() = 0;
    virtual bool timedOut() const = 0;
    virtual bool aborted() const = 0;
    virtual bool linkOpen() const = 0;

    virtual void deliver(std::int32_t value) = 0;
    virtual void deliver(double value) = 0;
    virtual void deliver(const std::string& value) = 0;
    // One finished log line (it may hold a 0 byte, where the host's copy ends).
    virtual void report(LogLevel level, const std::string& line) = 0;
};

class ScanfEngine {
public:
    explicit ScanfEngine(ScanPort& port) : port_(port) {}

    // Runs the whole format; Passed when every part of it was processed.
    ActionResult run(const std::string& format);

private:
    enum class Step { Next, Fail, Refuse }; // a conversion's outcome: go on, Failed, Error

    bool stopped() const;
    // The reader gave 0 because the wait ended, not because 0 was received.
    bool waitEnded(std::uint8_t octet) const { return octet == 0 && stopped(); }

    // Reads one byte for the literal at `position`, advancing past it when it matches.
    Step literal(char expected, std::size_t& position);
    Step convert(char conversion, const std::string& format, std::size_t& position);
    Step integer(char conversion);
    Step floating();
    Step word();
    Step scanSet(const std::string& format, std::size_t& position);

    void reportFormatted(LogLevel level, const char* format, ...) VARNEL_PRINTF(3, 4);
    // Delivers (or, after '*', logs) the text of a word or scan set.
    Step collected(const std::string& text);

    ScanPort& port_;
    std::optional<std::uint32_t> width_; // none until a width digit is read
    bool assign_ = true;      // false after '*': the value is only logged
};

// A scan set as the format writes it between '[' and ']'.
struct ScanSet {
    std::bitset<256> members;
    bool negated = false;
    bool contains(std::uint8_t octet) const { return members.test(octet) != negated; }
};

// Reads the set that starts after the '[' at `open`; `end` receives the
// position after the closing ']' (the format's length when it is not closed).
ScanSet parseScanSet(const std::string& format, std::size_t open, std::size_t& end);
