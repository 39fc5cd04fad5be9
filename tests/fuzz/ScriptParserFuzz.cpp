// Our program's script parser: the part before the first NUL holds
// --define values (NAME=VALUE lines), the rest is the script. The same
// lines are also typed one at a time, as at the console.
#include "FuzzInput.h"
#include "varnel/Script.h"

namespace {

Definitions definitionsOf(std::string_view text) {
    Definitions definitions;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        const auto equals = line.find('=');
        if (equals != std::string_view::npos)
            definitions.emplace_back(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return definitions;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [definitionText, script] = fuzz::splitAtNul(fuzz::text(data, size));
    const auto definitions = definitionsOf(definitionText);
    try {
        (void)parseScript(script, "fuzz.varnel", definitions);
    } catch (const ScriptError&) {
    }
    TypedLines typed(definitions);
    std::string_view rest = script;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        try {
            (void)typed.parse(rest.substr(0, end));
        } catch (const ScriptError&) {
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return 0;
}
