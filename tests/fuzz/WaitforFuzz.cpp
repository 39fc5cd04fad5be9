// The waitfor expression parser, then the matcher over the received bytes.
#include "FuzzInput.h"
#include "serial/Waitfor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [expressionText, received] = fuzz::splitAtNul(fuzz::text(data, size));
    auto expression = WaitforExpression::parse(expressionText);
    if (!expression) return 0;
    (void)expression->describe();
    std::size_t seenCount = 0;
    for (const char octet : received) {
        expression->consume(static_cast<std::uint8_t>(octet), [&](std::string_view) { ++seenCount; });
        (void)expression->evaluate(false);
    }
    (void)expression->evaluate(true);
    return 0;
}
