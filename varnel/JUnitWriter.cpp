#include "varnel/JUnitWriter.h"

#include "platform/utf8.h"

#include <cstdio>

namespace {

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

} // namespace

namespace {

// The length of the UTF-8 sequence at `at` if it is well-formed and encodes
// a character that XML 1.0 allows, else 0. Testers log their texts in their
// own 8-bit code page, so anything may arrive here.
std::size_t xmlCharacterLength(std::string_view text, std::size_t at) {
    const platform::utf8::Sequence sequence = platform::utf8::decode(text, at);
    const bool allowed = sequence.wellFormed && sequence.code != 0xFFFE && sequence.code != 0xFFFF;
    return allowed ? sequence.length : 0;
}

void appendByteEscape(std::string& out, unsigned char c) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
    out += escaped;
}

} // namespace

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\n': case '\t': out += c; break;
        case '\r': out += "&#13;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                appendByteEscape(out, static_cast<unsigned char>(c)); // not allowed in XML 1.0 at all
            } else if (static_cast<unsigned char>(c) < 0x80) {
                out += c;
            } else if (const std::size_t length = xmlCharacterLength(text, i)) {
                out.append(text.substr(i, length));
                i += length - 1;
            } else {
                appendByteEscape(out, static_cast<unsigned char>(c)); // keeps the file valid UTF-8
            }
        }
    }
    return out;
}

std::string junitReport(const std::vector<ScriptOutcome>& scripts) {
    std::size_t tests = 0, failures = 0, skipped = 0;
    double total = 0;
    std::string suites;
    for (const auto& script : scripts) {
        const std::string file = script.script->file.generic_string();
        const std::string suiteName = script.script->file.filename().string();
        const std::size_t notRun = script.count(false, false);
        const std::size_t failed = script.count(true, false);
        tests += script.steps.size();
        failures += failed;
        skipped += notRun;
        total += script.seconds;
        suites += "  <testsuite name=\"" + xmlEscape(suiteName) + "\" file=\"" + xmlEscape(file) + "\" tests=\"" +
                  std::to_string(script.steps.size()) + "\" failures=\"" + std::to_string(failed) +
                  "\" errors=\"0\" skipped=\"" + std::to_string(notRun) + "\" time=\"" + seconds(script.seconds) +
                  "\">\n";
        for (const auto& step : script.steps) {
            const std::string name = "line " + std::to_string(step.step->line) + ": " + stepText(*step.step);
            suites += "    <testcase name=\"" + xmlEscape(name) + "\" classname=\"" +
                      xmlEscape(script.script->file.stem().string()) + "\" time=\"" + seconds(step.seconds) + "\"";
            if (!step.ran) {
                suites += ">\n      <skipped message=\"not run: the run was interrupted\"/>\n    </testcase>\n";
                continue;
            }
            if (step.met && step.log.empty()) {
                suites += "/>\n";
                continue;
            }
            suites += ">\n";
            if (!step.met)
                suites += "      <failure message=\"" + xmlEscape(step.problem) + "\" type=\"" +
                          std::string(stateName(step.state)) + "\">" + xmlEscape(step.problem + "\n" + joined(step.log)) +
                          "</failure>\n";
            if (!step.log.empty()) suites += "      <system-out>" + xmlEscape(joined(step.log)) + "</system-out>\n";
            suites += "    </testcase>\n";
        }
        suites += "  </testsuite>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"varnel\" tests=\"" + std::to_string(tests) +
           "\" failures=\"" + std::to_string(failures) + "\" errors=\"0\" skipped=\"" + std::to_string(skipped) +
           "\" time=\"" + seconds(total) + "\">\n" + suites + "</testsuites>\n";
}
