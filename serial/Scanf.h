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
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// What a scan reads from and reports to. The scan takes received bytes a
// run at a time: it asks for the bytes at hand and later says how many of
// them it read.
class ScanPort {
public:
    virtual ~ScanPort() = default;

    // The unread received bytes at hand, waiting for some as the byte
    // reader does; empty when the wait ended without any (deadline, abort
    // or closed link). The bytes stay valid until the next call.
    virtual std::span<const std::uint8_t> awaitBytes() = 0;
    // The unread received bytes that can be had without waiting (possibly
    // none), with the deadline, the abort flag and the link not looked at.
    virtual std::span<const std::uint8_t> bytesAtHand() = 0;
    // The first `count` bytes of the last run given are read.
    virtual void consumeBytes(std::size_t count) = 0;
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
    // The bytes it read are consumed from the port when it returns.
    ActionResult run(const std::string& format);

private:
    enum class Step { Next, Fail, Refuse }; // a conversion's outcome: go on, Failed, Error

    ActionResult runFormat(const std::string& format);
    // Whether the wait has ended (deadline, abort flag, link), looked at
    // only when no unread byte is at hand; takes the bytes at hand if not.
    bool stopped();

    // The byte reader over the port's runs: the next byte, or 0 when the
    // wait for more ended; peekByte leaves the byte unread. The port is
    // asked (and so the wait checked) only when a run is used up.
    std::uint8_t readByte() { return next_ != end_ || refill() ? *next_++ : 0; }
    std::uint8_t peekByte() { return next_ != end_ || refill() ? *next_ : 0; }
    // True right after a peek that gave 0 because the wait ended, not because 0 was received.
    bool waitEnded() const { return next_ == end_; }
    void skipWhitespace();
    bool refill();
    // Tells the port how many bytes of its run were read.
    void settle();
    void takeRun(std::span<const std::uint8_t> run);

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
    const std::uint8_t* runStart_ = nullptr; // the port's run: [runStart_, next_) read, not yet settled
    const std::uint8_t* next_ = nullptr;     // [next_, end_) unread
    const std::uint8_t* end_ = nullptr;
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
