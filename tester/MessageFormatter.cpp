// Tester::formatParameters: backslash escapes (including octal and
// hexadecimal byte values) and the % conversions d, o, x, X, g and s, each
// taking the next parameter only when it has the matching type.
#include "tester/Parameters.h"
#include "tester/Tester.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string_view>

namespace {

enum class NumberMode { None, Octal, Hexadecimal };

class MessageFormatter {
public:
    MessageFormatter(std::uint32_t count, const VARIANT* parameters) : count_(count), parameters_(parameters) {}

    std::string run(std::string_view format) {
        out_.reserve(format.size());
        PlainRuns runs(format);
        for (std::size_t at = 0; at < format.size();) {
            if (idle()) {
                // Outside an escape or specification every character up to
                // the next backslash or '%' stands for itself.
                const std::size_t end = runs.endOf(at);
                out_.append(format, at, end - at);
                at = end;
                if (at == format.size()) break;
            }
            step(format[at++]);
        }
        flush();
        return std::move(out_);
    }

    std::uint32_t consumed() const { return nextValue_ - 1; }

private:
    // Finds where runs of plain characters end. The next backslash and the
    // next '%' are each searched for once and kept until passed, so a text
    // dense with one of them is still read once.
    class PlainRuns {
    public:
        explicit PlainRuns(std::string_view format)
            : format_(format), nextBackslash_(find('\\', 0)), nextPercent_(find('%', 0)) {}

        // The index of the first backslash or '%' at or after `at`, or the size.
        std::size_t endOf(std::size_t at) {
            return std::min(next(nextBackslash_, '\\', at), next(nextPercent_, '%', at));
        }

    private:
        std::size_t find(char wanted, std::size_t at) const {
            const std::size_t found = format_.find(wanted, at);
            return found == std::string_view::npos ? format_.size() : found;
        }

        std::size_t next(std::size_t& cached, char wanted, std::size_t at) {
            if (cached < at) cached = find(wanted, at);
            return cached;
        }

        std::string_view format_;
        std::size_t nextBackslash_;
        std::size_t nextPercent_;
    };

    bool idle() const { return !escapePending_ && !specPending_ && numberMode_ == NumberMode::None; }

    void step(char c) {
        if (c == '\\') {
            flush();
            if (escapePending_) {
                out_ += '\\';
                escapePending_ = false;
            } else {
                escapePending_ = true;
            }
        } else if (numberMode_ == NumberMode::Octal && c >= '0' && c <= '7') {
            numberValue_ = static_cast<unsigned char>(numberValue_ * 8 + (c - '0'));
        } else if (numberMode_ == NumberMode::Hexadecimal && hexDigit(c) >= 0) {
            numberValue_ = static_cast<unsigned char>(numberValue_ * 16 + hexDigit(c));
        } else if (c == '%') {
            flush();
            if (specPending_) {
                out_ += '%';
                specPending_ = false;
            } else {
                specPending_ = true;
                width_ = -1;
                precision_ = -1;
            }
        } else if (escapePending_) {
            flush();
            escape(c);
            escapePending_ = false;
        } else if (specPending_) {
            flush();
            specification(c);
        } else {
            flush();
            out_ += c;
        }
    }

    // 32-bit arithmetic that wraps, so that an absurdly long number is no
    // undefined behaviour; a width that wraps negative pads nothing.
    static int timesTenPlus(int value, int digit) {
        return static_cast<int>(static_cast<std::uint32_t>(value) * 10u + static_cast<std::uint32_t>(digit));
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    void flush() {
        if (numberMode_ == NumberMode::None) return;
        out_ += static_cast<char>(numberValue_);
        numberMode_ = NumberMode::None;
        numberValue_ = 0;
    }

    void escape(char c) {
        switch (c) {
        case 'a': out_ += '\a'; break;
        case 'b': out_ += '\b'; break;
        case 'f': out_ += '\f'; break;
        case 'n': out_ += '\n'; break;
        case 'r': out_ += '\r'; break;
        case 't': out_ += '\t'; break;
        case 'v': out_ += '\v'; break;
        case '0': numberMode_ = NumberMode::Octal; numberValue_ = 0; break;
        case 'x': numberMode_ = NumberMode::Hexadecimal; numberValue_ = 0; break;
        default: out_ += c; break;
        }
    }

    void specification(char c) {
        if (c >= '0' && c <= '9') {
            if (precision_ == -1)
                width_ = timesTenPlus(width_ == -1 ? 0 : width_, c - '0');
            else
                precision_ = timesTenPlus(precision_, c - '0');
        } else if (c == '.' && precision_ == -1) {
            precision_ = 0;
        } else {
            out_ += conversion(c);
            specPending_ = false;
        }
    }

    std::ostringstream stream() const {
        std::ostringstream s;
        if (width_ != -1) s.width(width_);
        if (precision_ != -1) s.precision(precision_);
        return s;
    }

    const VARIANT* take(VARTYPE type) {
        if (nextValue_ < count_ && parameters_[nextValue_].vt == type) return &parameters_[nextValue_++];
        return nullptr;
    }

    std::string padded(const std::string& text) const {
        std::ostringstream s = stream();
        s << text;
        return s.str();
    }

    std::string conversion(char c) {
        switch (c) {
        case 'd': {
            const VARIANT* v = take(VT_I4);
            if (!v) return padded("?");
            std::ostringstream s = stream();
            s << static_cast<long>(v->lVal);
            return s.str();
        }
        case 'o': case 'x': case 'X': {
            const VARIANT* v = take(VT_I4);
            if (!v) return padded("?");
            std::ostringstream digits;
            if (c == 'o') digits << std::oct;
            else digits << std::hex << (c == 'X' ? std::uppercase : std::nouppercase);
            digits << static_cast<std::uint32_t>(v->lVal);
            return padded(digits.str());
        }
        case 'g': {
            const VARIANT* v = take(VT_R8);
            if (!v) return padded("?");
            std::ostringstream s = stream();
            s << v->dblVal;
            return s.str();
        }
        case 's': {
            const VARIANT* v = take(VT_BSTR);
            return padded(v ? textOf(*v) : std::string("(null)"));
        }
        default:
            return padded("%") + c;
        }
    }

    const std::uint32_t count_;
    const VARIANT* const parameters_;
    std::string out_;
    bool escapePending_ = false;
    bool specPending_ = false;
    NumberMode numberMode_ = NumberMode::None;
    unsigned char numberValue_ = 0;
    int width_ = -1;
    int precision_ = -1;
    std::uint32_t nextValue_ = 1;
};

} // namespace

std::string Tester::formatParameters(std::uint32_t count, const VARIANT* parameters, std::uint32_t* consumed) {
    if (consumed) *consumed = 0;
    if (count == 0 || !parameters || parameters[0].vt != VT_BSTR) return {};
    MessageFormatter formatter(count, parameters);
    std::string result = formatter.run(textOf(parameters[0]));
    if (consumed) *consumed = formatter.consumed();
    return result;
}
