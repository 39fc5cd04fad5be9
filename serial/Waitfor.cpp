#include "serial/Waitfor.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t none = WaitforElement::none;

// Groups nested deeper than this are refused, so that building, evaluating
// and describing a tree never recurse without bound.
constexpr unsigned maxNesting = 1000;

struct Keyword {
    std::string_view text;
    WaitforKind kind;
};
constexpr std::array<Keyword, 3> keywords{{
    {"not", WaitforKind::Not},
    {"and", WaitforKind::And},
    {"or", WaitforKind::Or},
}};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (asciiLower(text[i]) != prefix[i]) return false;
    return true;
}

WaitforElement makeElement(WaitforKind kind, std::string text, std::uint32_t depth) {
    WaitforElement element;
    element.kind = kind;
    element.text = std::move(text);
    element.depth = depth;
    return element;
}

bool isOperator(WaitforKind kind) { return kind == WaitforKind::And || kind == WaitforKind::Or; }

} // namespace

std::optional<WaitforExpression> WaitforExpression::parse(std::string_view text) {
    WaitforExpression expression;
    auto& elements = expression.elements_;

    // Without a quote the whole text, blanks and keywords included, is the one text.
    if (text.find('\'') == std::string_view::npos) {
        elements.push_back(makeElement(WaitforKind::Text, std::string(text), 0));
        expression.root_ = 0;
        expression.prepareSearches();
        return expression;
    }

    bool inQuote = false;
    bool escaped = false;
    std::uint32_t depth = 0;
    std::string buffer;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (inQuote) {
            if (escaped) {
                buffer += c;
                escaped = false;
            } else if (c == '\'') {
                inQuote = false;
                elements.push_back(makeElement(WaitforKind::Text, buffer, depth));
                buffer.clear();
            } else {
                // A backslash stays in the text and makes the next character literal.
                buffer += c;
                escaped = c == '\\';
            }
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '\'') {
            inQuote = true;
            ++i;
        } else if (c == '(') {
            ++depth;
            ++i;
        } else if (c == ')') {
            if (depth == 0) return std::nullopt;
            --depth;
            ++i;
        } else {
            const auto keyword = std::find_if(keywords.begin(), keywords.end(), [&](const Keyword& k) {
                return startsWithIgnoringCase(text.substr(i), k.text);
            });
            if (keyword == keywords.end()) return std::nullopt;
            elements.push_back(makeElement(keyword->kind, std::string(keyword->text), depth));
            i += keyword->text.size();
        }
    }
    // A quote still open at the end is dropped without an element.
    if (depth != 0 || elements.empty()) return std::nullopt;
    if (!expression.build(0, 0, expression.root_)) return std::nullopt;
    expression.prepareSearches();
    return expression;
}

// Builds the tree of the elements at the start element's depth, from the
// start element on; deeper elements are reached through their group's
// operator and shallower ones are passed over. "and" and "or" take the
// rest as their right operand, so they group to the right with equal
// precedence; a right operand at the same depth continues this walk as a
// new run instead of recursing.
bool WaitforExpression::build(std::size_t start, unsigned nesting, std::size_t& result) {
    if (nesting > maxNesting) return false;
    const std::uint32_t base = elements_[start].depth;
    const std::size_t count = elements_.size();
    std::size_t* runRoot = &result; // receives the root of the current run
    std::size_t root = none;
    std::size_t i = start;
    while (i < count) {
        WaitforElement& element = elements_[i];
        if (element.depth != base) {
            ++i;
            continue;
        }
        if (element.kind == WaitforKind::Text) {
            if (root == none) root = i;
            ++i;
        } else if (element.kind == WaitforKind::Not) {
            if (root == none) root = i;
            if (i + 1 >= count) {
                ++i;
                continue;
            }
            const WaitforElement& next = elements_[i + 1];
            if (next.kind == WaitforKind::Text && next.depth == base) {
                element.first = i + 1;
                i += 2;
                continue;
            }
            if (next.depth <= base) return false;
            if (!build(i + 1, nesting + 1, element.first)) return false;
            ++i;
        } else {
            std::size_t left = root;
            if (left == none) {
                if (i == 0 || elements_[i - 1].kind != WaitforKind::Text || elements_[i - 1].depth != base)
                    return false;
                left = i - 1;
            }
            if (isOperator(elements_[left].kind)) return false;
            element.first = left;
            *runRoot = i;
            if (i + 1 >= count || elements_[i + 1].depth < base) return false;
            if (elements_[i + 1].depth > base) return build(i + 1, nesting + 1, element.second);
            runRoot = &element.second;
            root = none;
            ++i;
        }
    }
    if (root == none) return false;
    *runRoot = root;
    return true;
}

bool evaluateWaitfor(const std::vector<WaitforElement>& elements, std::size_t index, bool final) {
    // Right operands are followed in a loop: chains of "and"/"or" can be long.
    while (index != none) {
        const WaitforElement& element = elements[index];
        switch (element.kind) {
        case WaitforKind::Text:
            return element.seen;
        case WaitforKind::Not:
            return element.first != none && final && !evaluateWaitfor(elements, element.first, final);
        case WaitforKind::Or:
            if (element.first == none || element.second == none) return false;
            if (evaluateWaitfor(elements, element.first, final)) return true;
            index = element.second;
            break;
        case WaitforKind::And:
            if (element.first == none || element.second == none) return false;
            if (!evaluateWaitfor(elements, element.first, final)) return false;
            index = element.second;
            break;
        default:
            return false;
        }
    }
    return false;
}

std::string WaitforExpression::describe() const { return root_ == none ? std::string() : describeAt(root_); }

std::string WaitforExpression::describeOperand(std::size_t index, bool bareNot) const {
    const WaitforKind kind = elements_[index].kind;
    if (kind == WaitforKind::Text || (bareNot && kind == WaitforKind::Not)) return describeAt(index);
    return '(' + describeAt(index) + ')';
}

std::string WaitforExpression::describeAt(std::size_t index) const {
    std::string text;
    std::size_t openGroups = 0; // right operands in parentheses, closed at the end
    for (;;) {
        const WaitforElement& element = elements_[index];
        if (element.kind == WaitforKind::Text) {
            text += '\'' + element.text + '\'';
            break;
        }
        if (element.kind == WaitforKind::Not) {
            if (element.first != none) text += "not " + describeOperand(element.first, false);
            break;
        }
        if (element.first == none || element.second == none) break;
        text += describeOperand(element.first, true);
        text += element.kind == WaitforKind::And ? " and " : " or ";
        if (!isOperator(elements_[element.second].kind)) {
            text += describeAt(element.second);
            break;
        }
        text += '(';
        ++openGroups;
        index = element.second;
    }
    text.append(openGroups, ')');
    return text;
}

void WaitforExpression::prepareSearches() {
    for (std::size_t index = 0; index < elements_.size(); ++index) {
        const WaitforElement& element = elements_[index];
        // An empty text is never found and never needs a byte of the window.
        if (element.kind != WaitforKind::Text || element.text.empty()) continue;
        const std::string& text = element.text;
        TextSearch search{index, std::vector<std::uint32_t>(text.size() + 1, 0)};
        for (std::size_t length = 2; length <= text.size(); ++length) {
            std::uint32_t border = search.border[length - 1];
            while (border > 0 && text[border] != text[length - 1]) border = search.border[border];
            if (text[border] == text[length - 1]) ++border;
            search.border[length] = border;
        }
        beginsText_[static_cast<std::uint8_t>(text[0])] = true;
        searches_.push_back(std::move(search));
    }
}

namespace {

// The last `length` bytes of `carried` followed by bytes[0, end).
std::string tailOf(std::string_view carried, std::span<const std::uint8_t> bytes, std::size_t end, std::size_t length) {
    std::string tail;
    if (length > end) tail.assign(carried.substr(carried.size() - (length - end)));
    const std::size_t from = end - std::min(length, end);
    tail.append(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(end));
    return tail;
}

} // namespace

bool WaitforExpression::step(std::string_view carried, std::span<const std::uint8_t> bytes, std::size_t at,
                             const SeenObserver& onSeen) {
    const std::uint8_t octet = bytes[at];
    largestWindow_ = std::max(largestWindow_, windowLength_ + 1);
    std::size_t needed = 0; // the longest tail that a text not found may still grow from
    bool anyFound = false;
    for (TextSearch& search : searches_) {
        const std::string& text = elements_[search.element].text;
        std::uint32_t matched = search.matched;
        while (matched > 0 && static_cast<std::uint8_t>(text[matched]) != octet) matched = search.border[matched];
        if (static_cast<std::uint8_t>(text[matched]) == octet) ++matched;
        search.matched = matched;
        search.found = matched == text.size();
        if (search.found) anyFound = true;
        else needed = std::max<std::size_t>(needed, matched);
    }
    if (anyFound) {
        // Each find is shown with the whole window, before it is cut.
        const std::string window = onSeen ? tailOf(carried, bytes, at + 1, windowLength_ + 1) : std::string();
        for (TextSearch& search : searches_) {
            if (!search.found) continue;
            search.found = false;
            elements_[search.element].seen = true;
            if (onSeen) onSeen(window);
            // A found text needs nothing more, so it goes on from what the
            // others keep of the window: its longest border that fits.
            std::uint32_t border = search.border[search.matched];
            while (border > needed) border = search.border[border];
            search.matched = border;
        }
    }
    windowLength_ = needed;
    return anyFound;
}

std::size_t WaitforExpression::consume(std::span<const std::uint8_t> bytes, const SeenObserver& onSeen) {
    const std::string carried = std::move(window_); // set anew below
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (windowLength_ == 0) {
            // With the window empty, a byte that begins no text passes
            // through a one-byte window and leaves it empty again.
            largestWindow_ = std::max<std::size_t>(largestWindow_, 1);
            at = static_cast<std::size_t>(
                std::find_if(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end(),
                             [this](std::uint8_t octet) { return beginsText_[octet]; }) -
                bytes.begin());
            if (at == bytes.size()) break;
        }
        const bool found = step(carried, bytes, at, onSeen);
        ++at;
        if (found && evaluate(false)) break;
    }
    window_ = tailOf(carried, bytes, at, windowLength_);
    return at;
}
