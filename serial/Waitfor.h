// The condition a "waitfor" action waits for: one plain text, or quoted
// texts joined with "and", "or" and "not" and grouped with parentheses.
// Every text is searched for in the received bytes on its own, through a
// sliding window that keeps only the tail some text may still grow into;
// each text follows its own part of that tail with a prefix automaton, so
// a byte costs no string compares.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
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

// Whether the condition rooted at `root` holds over the elements' seen
// flags. A "not" can only hold when `final` is true, that is in the
// evaluation at the end of the wait.
bool evaluateWaitfor(const std::vector<WaitforElement>& elements, std::size_t root, bool final);

class WaitforExpression {
public:
    // Called with the whole window each time a text is found in it.
    using SeenObserver = std::function<void(std::string_view window)>;

    // The expression of `text`, or nothing when the text is invalid.
    static std::optional<WaitforExpression> parse(std::string_view text);

    bool evaluate(bool final) const { return evaluateWaitfor(elements_, root_, final); }

    // The canonical form shown in the log, e.g. 'OK' or ('ERR' and not 'RETRY').
    std::string describe() const;

    // Takes received bytes in order, as if one at a time: each is appended
    // to the window, every text is looked for at the window's end, and the
    // leading bytes that no text still needs are dropped. Stops after the
    // byte that makes the condition hold; returns how many bytes it took.
    std::size_t consume(std::span<const std::uint8_t> bytes, const SeenObserver& onSeen = {});

    const std::vector<WaitforElement>& elements() const { return elements_; }
    std::size_t root() const { return root_; }
    // The received tail that some text may still grow into.
    std::string_view window() const { return window_; }
    // The most bytes the window has held at once, the byte just taken included.
    std::size_t largestWindow() const { return largestWindow_; }

private:
    // The search for one non-empty text: a prefix automaton (the text's
    // borders) that follows the longest window tail the text may grow from.
    struct TextSearch {
        std::size_t element;               // its index in elements_
        std::vector<std::uint32_t> border; // [k]: longest proper border of the text's first k bytes
        std::uint32_t matched = 0;         // length of the window tail that begins the text
        bool found = false;                // completed by the byte being taken
    };

    WaitforExpression() = default;

    bool build(std::size_t start, unsigned nesting, std::size_t& root);
    std::string describeAt(std::size_t index) const;
    // An operand bare when it is a text (or, with `bareNot`, a "not"), else
    // in parentheses: "and" and "or" show a "not" bare, "not" shows only a text bare.
    std::string describeOperand(std::size_t index, bool bareNot) const;
    void prepareSearches();
    // Takes bytes[at], which some text may continue; true when a text was found.
    // `carried` is the window as the running call found it.
    bool step(std::string_view carried, std::span<const std::uint8_t> bytes, std::size_t at, const SeenObserver& onSeen);

    std::vector<WaitforElement> elements_;
    std::size_t root_ = WaitforElement::none;
    std::vector<TextSearch> searches_; // in element order
    std::array<bool, 256> beginsText_{}; // bytes that some text starts with
    std::string window_;                // the window when no call is running
    std::size_t windowLength_ = 0;      // the window's length, kept during a call
    std::size_t largestWindow_ = 0;
};
