#include "varnel/JUnitWriter.h"

#include "platform/utf8.h"

#include <cstdio>
#include <filesystem>

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

namespace {

struct Counts {
    std::size_t tests = 0, failures = 0, errors = 0, skipped = 0;
    void add(const Counts& other) {
        tests += other.tests, failures += other.failures, errors += other.errors, skipped += other.skipped;
    }
    std::string attributes() const {
        return "tests=\"" + std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" errors=\"" +
               std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) + "\"";
    }
};

// One test case element for a section; the setup and the teardown are
// reported only when they went wrong.
std::string sectionCase(const ScriptOutcome& script, const Section& section, Counts& counts) {
    const SectionResult result = script.result(section);
    if (section.kind != Section::Test && result != SectionResult::Failed) return {};
    double time = 0;
    std::string log;
    const StepOutcome* leftOut = nullptr;
    for (std::size_t i = section.first; i < section.first + section.count; ++i) {
        const StepOutcome& step = script.steps[i];
        time += step.seconds;
        log += joined(step.log);
        if (!step.ran && !leftOut) leftOut = &step;
    }
    ++counts.tests;
    std::string text = "    <testcase name=\"" + xmlEscape(sectionName(*script.script, section)) + "\" classname=\"" +
                       xmlEscape(script.script->file.stem().string()) + "\" time=\"" + seconds(time) + "\"";
    if (result == SectionResult::Passed && log.empty()) return text + "/>\n";
    text += ">\n";
    if (result == SectionResult::NotRun) {
        ++counts.skipped;
        text += "      <skipped message=\"not run: " + xmlEscape(leftOut ? leftOut->notRunReason : "") + "\"/>\n";
    } else if (result == SectionResult::Failed) {
        // A step that gave "error", or whose host call failed, is an error;
        // any other miss a failure.
        const StepOutcome* step = script.firstNotMet(section);
        const bool error = step && step->state == ActionResult::Error;
        ++(error ? counts.errors : counts.failures);
        const std::string element = error ? "error" : "failure";
        std::string message, details;
        if (step) {
            message = "line " + std::to_string(step->step->line) + ": " + stepText(*step->step) + ": " + step->problem;
            details = message + "\n" + joined(step->log);
            if (!step->context.empty()) details += "last log lines:\n" + joined(step->context);
        } else {
            message = "line " + std::to_string(leftOut->step->line) + " not run: " + leftOut->notRunReason;
            details = message + "\n";
        }
        text += "      <" + element + " message=\"" + xmlEscape(message) + "\" type=\"" +
                (step ? std::string(stateName(step->state)) : "notrun") + "\">" + xmlEscape(details) + "</" + element +
                ">\n";
    }
    if (!log.empty()) text += "      <system-out>" + xmlEscape(log) + "</system-out>\n";
    return text + "    </testcase>\n";
}

std::string document(const Counts& counts, double time, const std::string& suites) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"varnel\" " + counts.attributes() +
           " time=\"" + seconds(time) + "\">\n" + suites + "</testsuites>\n";
}

} // namespace

std::string junitReport(const std::vector<ScriptOutcome>& scripts) {
    Counts total;
    double time = 0;
    std::string suites;
    for (const auto& script : scripts) {
        Counts counts;
        std::string cases;
        for (const Section& section : script.script->sections) cases += sectionCase(script, section, counts);
        total.add(counts);
        time += script.seconds;
        suites += "  <testsuite name=\"" + xmlEscape(script.script->file.filename().string()) + "\" file=\"" +
                  xmlEscape(script.script->file.generic_string()) + "\" " + counts.attributes() + " time=\"" +
                  seconds(script.seconds) + "\">\n" + cases + "  </testsuite>\n";
    }
    return document(total, time, suites);
}

std::string junitErrorReport(const std::string& file, int line, const std::string& message) {
    Counts counts;
    counts.tests = counts.errors = 1;
    std::string where = file.empty() ? std::string("varnel") : file;
    if (!file.empty() && line > 0) where.append(":").append(std::to_string(line));
    const std::string suiteName = file.empty() ? std::string("varnel") : std::filesystem::path(file).filename().string();
    const std::string suite = "  <testsuite name=\"" + xmlEscape(suiteName) + "\" file=\"" + xmlEscape(file) + "\" " +
                              counts.attributes() + " time=\"0.000\">\n    <testcase name=\"" + xmlEscape(where) +
                              "\" classname=\"varnel\" time=\"0.000\">\n      <error message=\"" +
                              xmlEscape(message) + "\" type=\"script\">" + xmlEscape(message) +
                              "</error>\n    </testcase>\n  </testsuite>\n";
    return document(counts, 0, suite);
}
