// The host's value parser: any text gives values or a ValueParseError.
#include "FuzzInput.h"
#include "varnel/ValueParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        for (const auto& value : parseValues(fuzz::text(data, size))) (void)describe(value);
    } catch (const ValueParseError&) {
    }
    return 0;
}
