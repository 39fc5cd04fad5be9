// The script language, line by line. A line is a sequence of tokens:
// bare words, numbers, quoted texts, '[' and ']'; '#' outside quotes starts
// a comment.
#include "varnel/Script.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

struct Token {
    enum Kind { Bare, Quoted, Open, Close } kind;
    std::string text; // for Quoted: the characters between the quotes, unchanged
};

std::string displayName(const std::filesystem::path& file) {
    return file.generic_string();
}

class LineParser {
public:
    LineParser(std::string_view line, const std::string& file, int number) : file_(file), number_(number) {
        tokenize(line);
    }

    bool empty() const { return tokens_.empty(); }

    Step step() {
        Step step;
        step.line = number_;
        step.instance = word("a tester instance name");
        if (!isName(step.instance)) fail("'" + step.instance + "' is not a tester instance name");
        if (atEnd()) fail("missing action after tester instance '" + step.instance + "'");
        step.action = word("an action name");
        if (step.action == "new") {
            step.kind = StepKind::New;
            if (atEnd() || peek().kind != Token::Bare || isKeyword(peek().text))
                fail("missing tester name after 'new' (for example: " + step.instance + " new serial \"loopback\")");
            step.testerName = word("a tester name");
        } else if (step.action == "delete") {
            step.kind = StepKind::Delete;
        }
        while (!atEnd() && !(peek().kind == Token::Bare && peek().text == "expect"))
            step.parameters.push_back(literal(false));
        if (step.kind == StepKind::Delete && !step.parameters.empty()) fail("'delete' takes no parameters");
        if (!atEnd()) expectation(step);
        return step;
    }

private:
    [[noreturn]] void fail(const std::string& message) const { throw ScriptError(file_, number_, message); }

    void tokenize(std::string_view line) {
        std::size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
            } else if (c == '#') {
                break;
            } else if (c == '[' || c == ']') {
                tokens_.push_back({c == '[' ? Token::Open : Token::Close, std::string(1, c)});
                ++i;
            } else if (c == '"') {
                // Backslash escapes stay as written: the tester's formatter reads them.
                std::string text;
                ++i;
                for (;;) {
                    if (i >= line.size()) fail("unterminated quoted text (a closing \" is missing)");
                    if (line[i] == '"') break;
                    if (line[i] == '\\' && i + 1 < line.size()) text += line[i++];
                    text += line[i++];
                }
                ++i;
                tokens_.push_back({Token::Quoted, std::move(text)});
            } else {
                const std::size_t start = i;
                while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#' &&
                       line[i] != '"' && line[i] != '[' && line[i] != ']')
                    ++i;
                tokens_.push_back({Token::Bare, std::string(line.substr(start, i - start))});
            }
        }
    }

    static bool isName(const std::string& text) {
        if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
        for (const char c : text)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-')) return false;
        return true;
    }

    static bool isKeyword(const std::string& text) { return text == "expect"; }

    bool atEnd() const { return position_ >= tokens_.size(); }
    const Token& peek() const { return tokens_[position_]; }

    std::string word(const char* what) {
        if (atEnd()) fail(std::string("missing ") + what);
        const Token& token = tokens_[position_++];
        if (token.kind != Token::Bare) fail(std::string("expected ") + what + ", found " + describe(token));
        return token.text;
    }

    static std::string describe(const Token& token) {
        switch (token.kind) {
        case Token::Quoted: return "the text \"" + token.text + "\"";
        case Token::Open: return "'['";
        case Token::Close: return "']'";
        case Token::Bare: break;
        }
        return "'" + token.text + "'";
    }

    // Expected texts are compared by the host itself, so their escapes are decoded here.
    std::string decodeEscapes(const std::string& text) const {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\\' || i + 1 >= text.size()) {
                out += text[i];
                continue;
            }
            switch (const char next = text[++i]) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case '0': out += '\0'; break;
            case '\\': case '"': case '\'': out += next; break;
            default: fail(std::string("unknown escape \\") + next + " in an expected text (\\n \\r \\t \\0 \\\\ \\\" \\')");
            }
        }
        return out;
    }

    Literal number(const std::string& text) const {
        const char* begin = text.data();
        const char* end = begin + text.size();
        bool whole = true;
        for (const char* p = begin + (text[0] == '-' || text[0] == '+' ? 1 : 0); p < end; ++p)
            if (!std::isdigit(static_cast<unsigned char>(*p))) whole = false;
        if (whole && text.size() > (text[0] == '-' || text[0] == '+' ? 1u : 0u)) {
            std::int32_t value = 0;
            const auto [stop, error] = std::from_chars(begin + (text[0] == '+' ? 1 : 0), end, value);
            if (error != std::errc() || stop != end) fail("whole number out of range (32 bits): " + text);
            return value;
        }
        for (const char c : text)
            if (!std::isdigit(static_cast<unsigned char>(c)) && c != '-' && c != '+' && c != '.' && c != 'e' && c != 'E')
                fail("not a number: " + text);
        errno = 0;
        char* stop = nullptr;
        const double value = std::strtod(begin, &stop);
        if (stop != end || errno == ERANGE) fail("not a number: " + text);
        return value;
    }

    Literal literal(bool expected) {
        const Token& token = tokens_[position_++];
        switch (token.kind) {
        case Token::Quoted: return expected ? decodeEscapes(token.text) : token.text;
        case Token::Open: fail("'[' is allowed only after 'expect'");
        case Token::Close: fail("unexpected ']'");
        case Token::Bare: break;
        }
        const std::string& text = token.text;
        if (text == "true") return true;
        if (text == "false") return false;
        if (text == "*") {
            if (!expected) fail("'*' stands for any value only among expected values");
            return AnyValue{};
        }
        const char first = text[0];
        if (std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '+' || first == '.')
            return number(text);
        fail("unknown word '" + text + "' (texts need double quotes; values are numbers, \"texts\", true or false)");
    }

    void expectation(Step& step) {
        ++position_; // "expect"
        bool stated = false;
        if (!atEnd() && peek().kind == Token::Bare) {
            const auto state = stateFromName(peek().text);
            if (!state)
                fail("unknown result state '" + peek().text + "' (passed, failed, warning, error or aborted)");
            step.expectedState = *state;
            ++position_;
            stated = true;
        }
        if (!atEnd() && peek().kind == Token::Open) {
            ++position_;
            std::vector<Literal> values;
            for (;;) {
                if (atEnd()) fail("missing ']' after the expected values");
                if (peek().kind == Token::Close) break;
                values.push_back(literal(true));
            }
            ++position_;
            step.expectedValues = std::move(values);
            stated = true;
        }
        if (!stated) fail("'expect' needs a result state, [values] or both");
        if (!atEnd()) fail("unexpected " + describe(peek()) + " after the expectation");
    }

    std::string file_;
    int number_;
    std::vector<Token> tokens_;
    std::size_t position_ = 0;
};

} // namespace

Script parseScript(std::string_view text, const std::filesystem::path& fileName) {
    // Editors on Windows may start a UTF-8 file with a byte order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Script script;
    script.file = fileName;
    const std::string file = displayName(fileName);
    int number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        ++number;
        LineParser line(text.substr(start, end - start), file, number);
        if (!line.empty()) script.steps.push_back(line.step());
        start = end + 1;
    }
    return script;
}

Script readScript(const std::filesystem::path& file) {
    // A folder opens like a file on some systems and reads as nothing.
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) throw ScriptError(displayName(file) + ": is a folder, not a script file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ScriptError(displayName(file) + ": cannot read the script file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ScriptError(displayName(file) + ": cannot read the script file");
    Script script = parseScript(text.str(), file);
    // An empty file, or the wrong one, must not pass as a run with nothing in it.
    if (script.steps.empty())
        throw ScriptError(displayName(file) + ": the script has no steps (only blank lines and comments)");
    return script;
}

std::string printableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
            continue;
        }
        static constexpr char digits[] = "0123456789abcdef";
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
    }
    return out;
}

std::string_view stateName(ActionResult state) {
    switch (state) {
    case ActionResult::Passed: return "passed";
    case ActionResult::Failed: return "failed";
    case ActionResult::Warning: return "warning";
    case ActionResult::Error: return "error";
    case ActionResult::Aborted: return "aborted";
    }
    return "unknown";
}

std::optional<ActionResult> stateFromName(std::string_view name) {
    for (const auto state : {ActionResult::Passed, ActionResult::Failed, ActionResult::Warning, ActionResult::Error,
                             ActionResult::Aborted})
        if (stateName(state) == name) return state;
    return std::nullopt;
}
