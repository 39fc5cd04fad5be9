// The script language, line by line. A line is a sequence of tokens:
// bare words, numbers, quoted texts, '[' and ']'; '#' outside quotes starts
// a comment.
#include "varnel/Script.h"

#include "platform/utf8.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

struct Token {
    enum Kind { Bare, Quoted, Open, Close, Variable } kind;
    std::string text; // Quoted: between the quotes, unchanged; Variable: between ${ and }
};

bool isName(std::string_view text) {
    if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
    for (const char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-')) return false;
    return true;
}

// What the lines before and after a step's own line tell about variables.
struct VariableScope {
    const Definitions& definitions;
    std::map<std::string, int> storedOn;      // names stored so far, with their lines
    std::map<std::string, int> laterStoredOn; // every stored name, for a better message
};

std::string displayName(const std::filesystem::path& file) {
    return file.generic_string();
}

class LineParser {
public:
    LineParser(std::string_view line, const std::string& file, int number, VariableScope& scope)
        : file_(file), number_(number), scope_(scope) {
        tokenize(line);
    }

    bool empty() const { return tokens_.empty(); }

    // A section line: "setup", "teardown", "end", or "test" with a quoted
    // name. A step has at least an instance and an action, so one bare word
    // alone, or "test" before a text, cannot be one.
    std::optional<std::string> sectionWord() const {
        if (tokens_.empty() || tokens_[0].kind != Token::Bare) return std::nullopt;
        const std::string& word = tokens_[0].text;
        if (word == "test" && (tokens_.size() == 1 || tokens_[1].kind == Token::Quoted)) return word;
        if (tokens_.size() == 1 && (word == "setup" || word == "teardown" || word == "end")) return word;
        return std::nullopt;
    }

    // The name of a "test" line.
    std::string testName() const {
        if (tokens_.size() < 2 || tokens_[1].text.empty())
            fail("a test case needs a name: test \"NAME\"");
        if (tokens_.size() > 2) fail("unexpected " + describe(tokens_[2]) + " after the test case's name");
        return tokens_[1].text;
    }

    Step step() {
        Step step;
        step.line = number_;
        if (tokens_.size() >= 2 && tokens_[1].kind == Token::Bare && tokens_[1].text == "=") {
            step.storeAs = word("a variable name");
            if (!isName(step.storeAs)) fail("'" + step.storeAs + "' is not a variable name");
            for (const auto& [name, value] : scope_.definitions)
                if (name == step.storeAs) fail("'" + name + "' is already given with --define");
            ++position_; // "="
            if (atEnd()) fail("missing step after '" + step.storeAs + " ='");
        }
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
        if (!step.storeAs.empty() && step.kind != StepKind::Action)
            fail("only an action's result values can be stored ('" + step.action + "' gives none)");
        while (!atEnd() && !(peek().kind == Token::Bare && peek().text == "expect"))
            step.parameters.push_back(term(false));
        if (step.kind == StepKind::Delete && !step.parameters.empty()) fail("'delete' takes no parameters");
        if (!atEnd()) expectation(step);
        // Later lines may use what this one stores.
        if (!step.storeAs.empty()) scope_.storedOn[step.storeAs] = number_;
        return step;
    }

private:
    [[noreturn]] void fail(const std::string& message) const { throw ScriptError(file_, number_, message); }

public:
    [[noreturn]] static void failAt(const std::string& file, int line, const std::string& message) {
        throw ScriptError(file, line, message);
    }

private:
    void tokenize(std::string_view line) {
        std::size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
            } else if (c == '#') {
                break;
            } else if (c == '$' && i + 1 < line.size() && line[i + 1] == '{') {
                const std::size_t close = line.find('}', i + 2);
                if (close == std::string_view::npos) fail("unterminated ${ (a closing } is missing)");
                tokens_.push_back({Token::Variable, std::string(line.substr(i + 2, close - i - 2))});
                i = close + 1;
                if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#' &&
                    line[i] != ']')
                    fail("a variable in a bare word must stand alone (put texts in quotes: \"...${" +
                         tokens_.back().text + "}...\")");
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
                       line[i] != '"' && line[i] != '[' && line[i] != ']') {
                    if (line[i] == '$' && i + 1 < line.size() && line[i + 1] == '{')
                        fail("a variable in a bare word must stand alone (put texts in quotes: \"...${...}...\")");
                    ++i;
                }
                tokens_.push_back({Token::Bare, std::string(line.substr(start, i - start))});
            }
        }
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
        case Token::Variable: return "${" + token.text + "}";
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
            case 'x': {
                const auto digit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
                if (i + 2 >= text.size() || !digit(text[i + 1]) || !digit(text[i + 2]))
                    fail("\\x needs two hexadecimal digits in an expected text (\\x02)");
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            }
            default: fail(std::string("unknown escape \\") + next + " in an expected text (\\n \\r \\t \\0 \\xNN \\\\ \\\" \\')");
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

    // A parameter (or, with `expected`, an expected value).
    Term term(bool expected) {
        const Token& token = tokens_[position_++];
        switch (token.kind) {
        case Token::Quoted: return quotedText(token.text, expected);
        case Token::Variable: return variable(token.text);
        case Token::Open: fail("'[' is allowed only after 'expect'");
        case Token::Close: fail("unexpected ']'");
        case Token::Bare: break;
        }
        const std::string& text = token.text;
        if (text == "*") {
            if (!expected) fail("'*' stands for any value only among expected values");
            return Literal(AnyValue{});
        }
        if (const auto value = bareValue(text)) return *value;
        fail("unknown word '" + text + "' (texts need double quotes; values are numbers, \"texts\", true or false)");
    }

    // true, false or a number; nullopt for other words.
    std::optional<Literal> bareValue(const std::string& text) const {
        if (text == "true") return Literal(true);
        if (text == "false") return Literal(false);
        const char first = text.empty() ? ' ' : text[0];
        if (std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '+' || first == '.')
            return number(text);
        return std::nullopt;
    }

    // ${NAME}, ${NAME[INDEX]} or ${env:NAME}, standing alone: a defined or
    // environment value with the type its text reads as (a number, true or
    // false; else a text), or the values a step stored.
    Term variable(const std::string& inner) {
        if (const auto text = knownText(inner)) {
            const bool quotedValue = text->size() >= 2 && text->front() == '"' && text->back() == '"';
            if (quotedValue) return Literal(text->substr(1, text->size() - 2));
            if (text->empty()) return Literal(std::string());
            const std::optional<Literal> value = isNumberLike(*text) || *text == "true" || *text == "false"
                                                     ? bareValue(*text)
                                                     : std::nullopt;
            return value ? *value : Literal(*text);
        }
        return storedReference(inner);
    }

    static bool isNumberLike(const std::string& text) {
        for (const char c : text)
            if (!std::isdigit(static_cast<unsigned char>(c)) && c != '-' && c != '+' && c != '.' && c != 'e' && c != 'E')
                return false;
        return true;
    }

    // The text of a defined or environment variable, or nullopt when the
    // name is neither (it may be a stored one).
    std::optional<std::string> knownText(const std::string& inner) const {
        if (inner.rfind("env:", 0) == 0) {
            const std::string name = inner.substr(4);
            if (!isName(name)) fail("'" + name + "' is not an environment variable name in ${" + inner + "}");
            const char* value = std::getenv(name.c_str());
            if (!value) fail("the environment variable " + name + " is not set (used as ${" + inner + "})");
            return std::string(value);
        }
        for (const auto& [name, value] : scope_.definitions)
            if (name == inner) return value;
        return std::nullopt;
    }

    StoredReference storedReference(const std::string& inner) const {
        StoredReference reference;
        const std::size_t bracket = inner.find('[');
        reference.name = inner.substr(0, bracket);
        if (bracket != std::string::npos) {
            const std::string digits = inner.substr(bracket + 1, inner.size() - bracket - 2);
            const bool wellFormed = inner.back() == ']' && !digits.empty() &&
                                    digits.find_first_not_of("0123456789") == std::string::npos && digits.size() < 9;
            if (!wellFormed) fail("'${" + inner + "}' is not a variable: write ${NAME} or ${NAME[INDEX]}, INDEX from 0");
            reference.index = std::stoul(digits);
        }
        if (!isName(reference.name)) fail("'${" + inner + "}' is not a variable: write ${NAME} or ${NAME[INDEX]}");
        for (const auto& [name, value] : scope_.definitions)
            if (name == reference.name) fail("${" + inner + "}: a value given with --define has no elements");
        if (scope_.storedOn.count(reference.name) == 0) {
            const auto later = scope_.laterStoredOn.find(reference.name);
            if (later != scope_.laterStoredOn.end())
                fail("${" + inner + "} is used before line " + std::to_string(later->second) + " stores it");
            fail("undefined variable ${" + reference.name + "} (give it with --define " + reference.name +
                 "=VALUE, or store a step's results: " + reference.name + " = INSTANCE ACTION ...)");
        }
        return reference;
    }

    // A quoted text with its variables put in: defined and environment values
    // as their texts now, stored ones when the step runs. An expected text's
    // own escapes are decoded; values put in stay as they are. $${ is ${.
    Term quotedText(const std::string& raw, bool expected) {
        TextTemplate result;
        std::string literal;
        const auto flushLiteral = [&] {
            if (literal.empty()) return;
            const std::string piece = expected ? decodeEscapes(literal) : literal;
            if (!result.pieces.empty() && std::holds_alternative<std::string>(result.pieces.back()))
                std::get<std::string>(result.pieces.back()) += piece;
            else
                result.pieces.emplace_back(piece);
            literal.clear();
        };
        for (std::size_t i = 0; i < raw.size();) {
            if (raw.compare(i, 3, "$${") == 0) {
                literal += "${";
                i += 3;
                continue;
            }
            if (raw.compare(i, 2, "${") != 0) {
                literal += raw[i++];
                continue;
            }
            const std::size_t close = raw.find('}', i + 2);
            if (close == std::string::npos) fail("unterminated ${ in a quoted text (a closing } is missing)");
            const std::string inner = raw.substr(i + 2, close - i - 2);
            i = close + 1;
            if (const auto text = knownText(inner)) {
                flushLiteral();
                if (!result.pieces.empty() && std::holds_alternative<std::string>(result.pieces.back()))
                    std::get<std::string>(result.pieces.back()) += *text;
                else
                    result.pieces.emplace_back(*text);
                continue;
            }
            flushLiteral();
            result.pieces.emplace_back(storedReference(inner));
        }
        flushLiteral();
        if (result.pieces.empty()) return Literal(std::string());
        if (result.pieces.size() == 1 && std::holds_alternative<std::string>(result.pieces[0]))
            return Literal(std::get<std::string>(result.pieces[0]));
        return result;
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
            std::vector<Term> values;
            for (;;) {
                if (atEnd()) fail("missing ']' after the expected values");
                if (peek().kind == Token::Close) break;
                values.push_back(term(true));
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
    VariableScope& scope_;
    std::vector<Token> tokens_;
    std::size_t position_ = 0;
};

} // namespace

namespace {

// The name a line stores its results under ("NAME = ..."), or empty.
std::string storedName(std::string_view line) {
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string_view::npos) return {};
    const std::size_t end = line.find_first_of(" \t", i);
    if (end == std::string_view::npos) return {};
    const std::size_t equals = line.find_first_not_of(" \t", end);
    if (equals == std::string_view::npos || line[equals] != '=' || equals + 1 >= line.size() ||
        (line[equals + 1] != ' ' && line[equals + 1] != '\t'))
        return {};
    const std::string_view name = line.substr(i, end - i);
    return isName(name) ? std::string(name) : std::string();
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Collects the steps into sections as the section lines open and close them.
class SectionBuilder {
public:
    SectionBuilder(Script& script, const std::string& file) : script_(script), file_(file) {}

    void sectionLine(const std::string& word, int line, LineParser& parser) {
        if (word == "end") {
            if (!open_) LineParser::failAt(file_, line, "'end' without a section to end");
            script_.sections.push_back(*open_);
            open_.reset();
            return;
        }
        if (open_)
            LineParser::failAt(file_, line, "'" + word + "' inside the section '" + open_->name + "' of line " +
                                                std::to_string(open_->line) + " (end that one first with 'end')");
        Section section;
        section.line = line;
        section.first = script_.steps.size();
        if (word == "setup") {
            if (seen(Section::Setup)) LineParser::failAt(file_, line, "a second setup (a script has one at most)");
            if (seen(Section::Test) || seen(Section::Teardown))
                LineParser::failAt(file_, line, "the setup must come before the test cases and the teardown");
            section.kind = Section::Setup;
            section.name = "setup";
        } else if (word == "teardown") {
            if (seen(Section::Teardown)) LineParser::failAt(file_, line, "a second teardown (a script has one at most)");
            section.kind = Section::Teardown;
            section.name = "teardown";
        } else {
            section.name = parser.testName();
            if (seen(Section::Teardown)) LineParser::failAt(file_, line, "test cases must come before the teardown");
            for (const Section& earlier : script_.sections)
                if (earlier.name == section.name && earlier.kind == Section::Test)
                    LineParser::failAt(file_, line, "a second test case named '" + section.name + "' (the first is on line " +
                                                        std::to_string(earlier.line) + ")");
        }
        script_.hasTestCases = true;
        open_ = section;
    }

    void step(Step step) {
        if (open_) {
            ++open_->count;
        } else if (!firstLoose_) {
            firstLoose_ = step.line;
        }
        script_.steps.push_back(std::move(step));
        if (!open_) {
            Section single;
            single.line = script_.steps.back().line;
            single.first = script_.steps.size() - 1;
            single.count = 1;
            loose_.push_back(single);
        }
    }

    void finish() {
        if (open_)
            LineParser::failAt(file_, open_->line, "the section '" + open_->name + "' has no 'end'");
        if (!script_.hasTestCases) {
            script_.sections = std::move(loose_);
            return;
        }
        if (firstLoose_)
            LineParser::failAt(file_, *firstLoose_,
                               "a step outside setup, test and teardown (in a script with test cases every step "
                               "belongs to one)");
    }

private:
    bool seen(Section::Kind kind) const {
        for (const Section& section : script_.sections)
            if (section.kind == kind) return true;
        return false;
    }

    Script& script_;
    const std::string& file_;
    std::optional<Section> open_;
    std::vector<Section> loose_; // one per step outside any section
    std::optional<int> firstLoose_;
};

} // namespace

Script parseScript(std::string_view text, const std::filesystem::path& fileName, const Definitions& definitions) {
    // Editors on Windows may start a UTF-8 file with a byte order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Script script;
    script.file = fileName;
    const std::string file = displayName(fileName);
    const std::vector<std::string_view> lines = splitLines(text);
    VariableScope scope{definitions, {}, {}};
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (const std::string name = storedName(lines[i]); !name.empty())
            scope.laterStoredOn.emplace(name, static_cast<int>(i + 1));
    SectionBuilder sections(script, file);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        LineParser line(lines[i], file, number, scope);
        if (line.empty()) continue;
        if (const auto word = line.sectionWord())
            sections.sectionLine(*word, number, line);
        else
            sections.step(line.step());
    }
    sections.finish();
    return script;
}

std::optional<Step> TypedLines::parse(std::string_view text) {
    const int number = ++count_;
    VariableScope scope{definitions_, storedOn_, {}};
    LineParser line(text, source_, number, scope);
    if (line.empty()) return std::nullopt;
    if (const auto word = line.sectionWord())
        throw ScriptError(source_, number,
                          "'" + *word + "' opens or ends a section of a script file; type steps one at a time here");
    Step step = line.step();
    storedOn_ = std::move(scope.storedOn);
    return step;
}

Script readScript(const std::filesystem::path& file, const Definitions& definitions) {
    // A folder opens like a file on some systems and reads as nothing.
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) throw ScriptError(displayName(file) + ": is a folder, not a script file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ScriptError(displayName(file) + ": cannot read the script file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ScriptError(displayName(file) + ": cannot read the script file");
    Script script = parseScript(text.str(), file, definitions);
    // An empty file, or the wrong one, must not pass as a run with nothing in it.
    if (script.steps.empty())
        throw ScriptError(displayName(file) + ": the script has no steps (only blank lines and comments)");
    return script;
}

namespace {

void appendByteEscape(std::string& out, unsigned char byte) {
    static constexpr char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 0xF];
}

// Bytes outside well-formed UTF-8 as \xNN; with `controls`, control
// characters (NUL included) and DEL too.
std::string escapedText(std::string_view text, bool controls) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (controls && (byte < 0x20 || byte == 0x7F)) appendByteEscape(out, byte);
            else out += text[i];
            ++i;
            continue;
        }
        const platform::utf8::Sequence sequence = platform::utf8::decode(text, i);
        if (sequence.wellFormed) {
            out.append(text.substr(i, sequence.length));
            i += sequence.length;
            continue;
        }
        for (const std::size_t end = i + sequence.length; i < end; ++i)
            appendByteEscape(out, static_cast<unsigned char>(text[i]));
    }
    return out;
}

} // namespace

std::string printableText(std::string_view text) {
    return escapedText(text, true);
}

std::string utf8OrEscaped(std::string_view text) {
    return escapedText(text, false);
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
