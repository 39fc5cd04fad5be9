#include "serial/Scanf.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

bool isReceivedWhitespace(std::uint8_t octet) { return octet == ' ' || octet == '\t' || octet == '\r' || octet == '\n'; }

bool isDecimalDigit(std::uint8_t octet) { return octet >= '0' && octet <= '9'; }

// The digit's value in `base` (8, 10 or 16), or -1.
int digitValue(std::uint8_t octet, unsigned base) {
    int value = -1;
    if (isDecimalDigit(octet)) value = octet - '0';
    else if (octet >= 'a' && octet <= 'f') value = octet - 'a' + 10;
    else if (octet >= 'A' && octet <= 'F') value = octet - 'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

bool isConversion(char c) {
    switch (c) {
    case '%': case 'd': case 'u': case 'o': case 'x':
    case 'f': case 'g': case 'e': case 'E': case 'G':
    case 's': case '[':
        return true;
    default:
        return false;
    }
}

// The byte an escaped character stands for inside a scan set.
std::uint8_t escapedSetMember(char c) {
    switch (c) {
    case 'a': return 7;
    case 'b': return 8;
    case 'f': return 12;
    case 'n': return 10;
    case 'r': return 13;
    case 't': return 9;
    case 'v': return 11;
    default: return static_cast<std::uint8_t>(c);
    }
}

} // namespace

ScanSet parseScanSet(const std::string& format, std::size_t open, std::size_t& end) {
    ScanSet set;
    std::size_t i = open + 1;
    if (i < format.size() && format[i] == '^') {
        set.negated = true;
        ++i;
    }
    bool escaped = false;
    bool anyMember = false;
    std::uint8_t lastMember = 0;
    const auto add = [&](std::uint8_t octet) {
        set.members.set(octet);
        lastMember = octet;
        anyMember = true;
    };
    while (i < format.size()) {
        const char c = format[i];
        if (escaped) {
            add(escapedSetMember(c));
            escaped = false;
            ++i;
        } else if (c == '\\') {
            escaped = true;
            ++i;
        } else if (c == ']') {
            end = i + 1;
            return set;
        } else if (c == '-' && anyMember && i + 1 < format.size()) {
            // A range from the last member to the next character, rising or
            // falling, compared as signed bytes; the end is taken as written.
            const int from = static_cast<signed char>(lastMember);
            const int to = static_cast<signed char>(format[i + 1]);
            const int step = to > from ? 1 : -1;
            for (int v = from; v != to;) {
                v += step;
                add(static_cast<std::uint8_t>(v));
            }
            i += 2;
        } else {
            add(static_cast<std::uint8_t>(c));
            ++i;
        }
    }
    end = format.size();
    return set;
}

bool ScanfEngine::stopped() {
    if (next_ != end_) return false;
    settle();
    if (port_.timedOut() || port_.aborted() || !port_.linkOpen()) return true;
    // Just looked at: the bytes already received need no second look.
    takeRun(port_.bytesAtHand());
    return false;
}

void ScanfEngine::settle() {
    port_.consumeBytes(static_cast<std::size_t>(next_ - runStart_));
    runStart_ = next_;
}

void ScanfEngine::takeRun(std::span<const std::uint8_t> run) {
    runStart_ = next_ = run.data();
    end_ = run.data() + run.size();
}

bool ScanfEngine::refill() {
    settle();
    takeRun(port_.awaitBytes());
    return next_ != end_;
}

void ScanfEngine::skipWhitespace() {
    while (isReceivedWhitespace(peekByte())) ++next_;
}

void ScanfEngine::reportFormatted(LogLevel level, const char* format, ...) {
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    const std::size_t length = written < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(written), sizeof buffer - 1);
    port_.report(level, std::string(buffer, length));
}

ScanfEngine::Step ScanfEngine::collected(const std::string& text) {
    if (text.empty()) {
        reportFormatted(LogLevel::Error, "Blank string received");
        return Step::Fail;
    }
    // Texts go out as C strings: a received 0 byte ends them.
    if (assign_)
        port_.deliver(text.substr(0, text.find('\0')));
    else
        reportFormatted(LogLevel::Trace, "String value \"%s\" discarded", text.c_str());
    return Step::Next;
}

ActionResult ScanfEngine::run(const std::string& format) {
    runStart_ = next_ = end_ = nullptr;
    const ActionResult result = runFormat(format);
    settle();
    return result;
}

ActionResult ScanfEngine::runFormat(const std::string& format) {
    width_.reset();
    assign_ = true;
    bool inSpecification = false;
    std::size_t position = 0;
    while (position < format.size()) {
        // Looked at before each literal and each conversion: the characters
        // of one conversion follow each other without reading.
        if (!inSpecification && stopped()) break;
        const char c = format[position];
        if (!inSpecification) {
            if (c == '%') {
                inSpecification = true;
                width_.reset();
                ++position;
            } else if (c == '\\') {
                ++position;
                if (position >= format.size() ||
                    (format[position] != 'n' && format[position] != 't' && format[position] != 'r')) {
                    reportFormatted(LogLevel::Error, "Only \\n, \\t or \\r allowed");
                    return ActionResult::Error;
                }
                ++position; // these escapes match nothing received
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++position;
            } else {
                if (literal(c, position) != Step::Next) return ActionResult::Error;
            }
        } else if (isDecimalDigit(static_cast<std::uint8_t>(c))) {
            width_ = width_.value_or(0) * 10u + static_cast<std::uint32_t>(c - '0');
            ++position;
        } else if (c == '*') {
            assign_ = false;
            ++position;
        } else if (isConversion(c)) {
            const Step step = convert(c, format, position);
            if (step == Step::Fail) return ActionResult::Failed;
            if (step == Step::Refuse) return ActionResult::Error;
            assign_ = true;
            inSpecification = false;
        } else {
            reportFormatted(LogLevel::Error, "Invalid format statement at position %d", static_cast<int>(position));
            return ActionResult::Error;
        }
    }
    if (position >= format.size()) return ActionResult::Passed;
    return port_.aborted() ? ActionResult::Aborted : ActionResult::Failed;
}

ScanfEngine::Step ScanfEngine::literal(char expected, std::size_t& position) {
    const std::uint8_t octet = readByte();
    if (octet == static_cast<std::uint8_t>(expected)) {
        ++position;
        return Step::Next;
    }
    // Received white space before a literal is dropped; the same literal is
    // tried again on the next round, after the deadline, abort and link checks.
    if (isReceivedWhitespace(octet)) return Step::Next;
    // A wait that ends gives 0, which is reported like any other wrong byte.
    reportFormatted(LogLevel::Error, "Incorrect character received at position %d (Expected '%c' Got '%c')",
                    static_cast<int>(position), expected, static_cast<char>(octet));
    return Step::Refuse;
}

ScanfEngine::Step ScanfEngine::convert(char conversion, const std::string& format, std::size_t& position) {
    if (conversion == '[') return scanSet(format, position);
    ++position;
    switch (conversion) {
    case '%':
        return readByte() == '%' ? Step::Next : Step::Fail;
    case 's':
        return word();
    case 'd': case 'u': case 'o': case 'x':
        return integer(conversion);
    default:
        return floating();
    }
}

ScanfEngine::Step ScanfEngine::integer(char conversion) {
    skipWhitespace();
    const unsigned base = conversion == 'o' ? 8 : conversion == 'x' ? 16 : 10;
    bool negative = false;
    const std::uint8_t sign = peekByte();
    if ((conversion == 'd' && (sign == '-' || sign == '+')) || (conversion == 'u' && sign == '+')) {
        negative = sign == '-';
        readByte();
    }
    std::uint32_t value = 0; // wraps like the 32-bit arithmetic scripts expect
    bool anyDigit = false;
    for (int digit = digitValue(peekByte(), base); digit >= 0; digit = digitValue(peekByte(), base)) {
        value = value * base + static_cast<std::uint32_t>(digit);
        anyDigit = true;
        readByte();
    }
    if (!anyDigit) {
        static constexpr const char* invalid[] = {"Invalid decimal number received", "Invalid unsigned decimal number received",
                                                  "Invalid octal number received", "Invalid hex number received"};
        const int kind = conversion == 'd' ? 0 : conversion == 'u' ? 1 : conversion == 'o' ? 2 : 3;
        reportFormatted(LogLevel::Error, "%s", invalid[kind]);
        return Step::Fail;
    }
    if (negative) value = 0u - value;
    if (assign_) {
        port_.deliver(static_cast<std::int32_t>(value));
        return Step::Next;
    }
    switch (conversion) {
    case 'd': reportFormatted(LogLevel::Trace, "Dec value %d discarded", static_cast<int>(static_cast<std::int32_t>(value))); break;
    case 'u': reportFormatted(LogLevel::Trace, "Unsigned value %u discarded", static_cast<unsigned>(value)); break;
    case 'o': reportFormatted(LogLevel::Trace, "Oct value %o discarded", static_cast<unsigned>(value)); break;
    default: reportFormatted(LogLevel::Trace, "Hex value %X discarded", static_cast<unsigned>(value)); break;
    }
    return Step::Next;
}

ScanfEngine::Step ScanfEngine::floating() {
    skipWhitespace();
    std::string text;
    bool anyDigit = false;
    const auto take = [&] { text += static_cast<char>(readByte()); };
    const auto takeDigits = [&] {
        while (isDecimalDigit(peekByte())) {
            take();
            anyDigit = true;
        }
    };
    if (peekByte() == '-' || peekByte() == '+') take();
    takeDigits();
    if (peekByte() == '.') {
        take();
        takeDigits();
    }
    const bool digitsBeforeExponent = anyDigit;
    if (peekByte() == 'e' || peekByte() == 'E') {
        take();
        if (peekByte() == '-' || peekByte() == '+') take();
        takeDigits();
    }
    if (!digitsBeforeExponent) {
        reportFormatted(LogLevel::Error, "Invalid float received %s", text.c_str());
        return Step::Fail;
    }
    const double value = std::atof(text.c_str());
    if (assign_)
        port_.deliver(value);
    else
        reportFormatted(LogLevel::Trace, "Double value %g discarded", value);
    return Step::Next;
}

ScanfEngine::Step ScanfEngine::word() {
    skipWhitespace();
    std::string text;
    // The byte that ends the word stays unread. A wait that ends (deadline,
    // abort, closed link) ends the word at once.
    for (std::uint8_t next = peekByte(); !isReceivedWhitespace(next) && !(next == 0 && waitEnded()); next = peekByte())
        text += static_cast<char>(readByte());
    return collected(text);
}

ScanfEngine::Step ScanfEngine::scanSet(const std::string& format, std::size_t& position) {
    std::size_t end = format.size();
    const ScanSet set = parseScanSet(format, position, end);
    position = end;
    std::string text;
    // The byte that ends the set is consumed and dropped; a wait that ends
    // ends the set too.
    while (!(width_ && text.size() >= *width_)) {
        if (next_ == end_ && !refill()) break;
        const std::uint8_t octet = *next_++;
        if (!set.contains(octet)) break;
        text += static_cast<char>(octet);
    }
    return collected(text);
}
