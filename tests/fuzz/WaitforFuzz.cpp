// The waitfor expression parser, then the matcher over the received bytes,
// checked against the plain sliding window it must behave as: the window
// grows by each byte, every text is compared with each of the window's
// tails, and the leading bytes no text still needs are dropped. The bytes
// reach the matcher in runs whose lengths the input chooses.
#include "FuzzInput.h"
#include "serial/Waitfor.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// How many leading bytes of `window` the element no longer needs; marks a
// text seen (and records the window) when the window ends with it.
std::size_t matchText(WaitforElement& element, std::string_view window, std::vector<std::string>& seenWindows) {
    const std::size_t length = window.size();
    if (element.kind != WaitforKind::Text) return length;
    const std::string_view text = element.text;
    for (std::size_t start = length > text.size() ? length - text.size() : 0; start < length; ++start) {
        const std::string_view tail = window.substr(start);
        if (tail == text) {
            element.seen = true;
            seenWindows.emplace_back(window);
            return length;
        }
        if (text.substr(0, tail.size()) == tail) return start;
    }
    return length;
}

struct Reference {
    std::vector<WaitforElement> elements;
    std::string window;
    std::size_t largestWindow = 0;
    std::vector<std::string> seenWindows;

    void consume(char octet) {
        window += octet;
        largestWindow = std::max(largestWindow, window.size());
        std::size_t unneeded = window.size();
        for (WaitforElement& element : elements) unneeded = std::min(unneeded, matchText(element, window, seenWindows));
        window.erase(0, unneeded);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [expressionText, rest] = fuzz::splitAtNul(fuzz::text(data, size));
    // The byte after the NUL sets the run lengths; the rest is received.
    const std::size_t runLength = rest.empty() ? 1 : 1 + static_cast<std::uint8_t>(rest[0]) % 17;
    const std::string_view received = rest.empty() ? rest : rest.substr(1);
    auto expression = WaitforExpression::parse(expressionText);
    if (!expression) return 0;
    (void)expression->describe();

    Reference reference{expression->elements()};
    std::size_t expectedTaken = received.size();
    for (std::size_t i = 0; i < received.size(); ++i) {
        reference.consume(received[i]);
        if (evaluateWaitfor(reference.elements, expression->root(), false)) {
            expectedTaken = i + 1;
            break;
        }
    }

    std::vector<std::string> seenWindows;
    const auto* const bytes = reinterpret_cast<const std::uint8_t*>(received.data());
    std::size_t taken = 0;
    while (taken < received.size() && !expression->evaluate(false)) {
        const std::size_t length = std::min(runLength, received.size() - taken);
        taken += expression->consume({bytes + taken, length}, [&](std::string_view window) { seenWindows.emplace_back(window); });
    }

    if (taken != expectedTaken || seenWindows != reference.seenWindows || expression->window() != reference.window ||
        expression->largestWindow() != reference.largestWindow)
        __builtin_trap();
    for (std::size_t i = 0; i < reference.elements.size(); ++i)
        if (expression->elements()[i].seen != reference.elements[i].seen) __builtin_trap();
    (void)expression->evaluate(true);
    return 0;
}
