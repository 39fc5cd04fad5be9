// The condition a "waitfor" action waits for: one plain text, or quoted
// texts joined with "and", "or" and "not" and grouped with parentheses.
// Every text is searched for in the received bytes on its own, through a
// sliding window that keeps only the tail some text may still grow into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class WaitforKind : std::uint32_t { Not = 0, Or = 1, And = 2, Text = 3 };

// One element of a parsed expression. Operands are indices into the
// expression's element array, which is in text order.
struct WaitforElement {
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    bool seen = false; // a Text found in the received bytes during this wait
    WaitforKind kind = WaitforKind::Text;
    std::string text;  // the text to find, or the operator's keyword
    std::size_t first = none;  // operand of Not; left operand of And and Or
    std::size_t second = none; // right operand of And and Or
    std::uint32_t depth = 0;   // open parentheses before the element
};

class WaitforExpression {
public:
    // Called with the whole window each time a text is found in it.
    using SeenObserver = std::function<void(std::string_view window)>;

    // The expression of `text`, or nothing when the text is invalid.
    static std::optional<WaitforExpression> parse(std::string_view text);

    // Whether the condition holds. A "not" can only hold when `final` is
    // true, that is in the evaluation at the end of the wait.
    bool evaluate(bool final) const;

    // The canonical form shown in the log, e.g. 'OK' or ('ERR' and not 'RETRY').
    std::string describe() const;

    // Takes one received byte: appends it to the window, searches every
    // text, and drops the leading bytes that no text still needs.
    void consume(std::uint8_t octet, const SeenObserver& onSeen = {});

    // How many leading bytes of `window` the element no longer needs; marks
    // a Text seen (and tells `onSeen`) when the window ends with it.
    std::size_t matchText(std::size_t index, std::string_view window, const SeenObserver& onSeen = {});

    const std::vector<WaitforElement>& elements() const { return elements_; }
    std::string_view window() const { return window_; }
    // The most bytes the window has held at once, the byte just taken included.
    std::size_t largestWindow() const { return largestWindow_; }

private:
    WaitforExpression() = default;

    bool build(std::size_t start, unsigned nesting, std::size_t& root);
    bool evaluateAt(std::size_t index, bool final) const;
    std::string describeAt(std::size_t index) const;
    // An operand bare when it is a text (or, with `bareNot`, a "not"), else
    // in parentheses: "and" and "or" show a "not" bare, "not" shows only a text bare.
    std::string describeOperand(std::size_t index, bool bareNot) const;

    std::vector<WaitforElement> elements_;
    std::size_t root_ = WaitforElement::none;
    std::string window_;
    std::size_t largestWindow_ = 0;
};
