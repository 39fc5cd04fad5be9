#include "plugin/RegistryScript.h"

#include <cctype>
#include <charconv>

namespace {

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

struct Token {
    enum Kind { End, Word, Text, Open, Close, Equals } kind;
    std::string text;
    int line;
};

class Lexer {
public:
    explicit Lexer(std::string_view script) : script_(script) {}

    Token next() {
        skipBlanks();
        if (position_ >= script_.size()) return {Token::End, {}, line_};
        const char c = script_[position_];
        // A brace followed by more than blanks begins a name such as a class identifier.
        const bool braceAlone = position_ + 1 >= script_.size() || isBlank(script_[position_ + 1]);
        if (c == '{' && braceAlone) return single(Token::Open);
        if (c == '}') return single(Token::Close);
        if (c == '=') return single(Token::Equals);
        if (c == '\'') return quoted();
        const std::size_t start = position_;
        while (position_ < script_.size() && !isBlank(script_[position_]) && script_[position_] != '=' &&
               script_[position_] != '\'')
            ++position_;
        return {Token::Word, std::string(script_.substr(start, position_ - start)), line_};
    }

private:
    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    void skipBlanks() {
        while (position_ < script_.size() && isBlank(script_[position_])) {
            if (script_[position_] == '\n') ++line_;
            ++position_;
        }
    }

    Token single(Token::Kind kind) {
        ++position_;
        return {kind, {}, line_};
    }

    Token quoted() {
        const int startLine = line_;
        std::string text;
        ++position_;
        for (;;) {
            if (position_ >= script_.size()) throw RegistryScriptError(startLine, "unterminated text");
            const char c = script_[position_++];
            if (c == '\'') {
                if (position_ < script_.size() && script_[position_] == '\'') {
                    text += '\'';
                    ++position_;
                    continue;
                }
                return {Token::Text, std::move(text), startLine};
            }
            if (c == '\n') ++line_;
            text += c;
        }
    }

    std::string_view script_;
    std::size_t position_ = 0;
    int line_ = 1;
};

class Parser {
public:
    explicit Parser(std::string_view script) : lexer_(script) { advance(); }

    std::vector<RegistryRoot> script() {
        std::vector<RegistryRoot> roots;
        while (token_.kind != Token::End) roots.push_back(root());
        return roots;
    }

private:
    void advance() { token_ = lexer_.next(); }

    [[noreturn]] void fail(const std::string& message) const { throw RegistryScriptError(token_.line, message); }

    std::string describe() const {
        switch (token_.kind) {
        case Token::End: return "the end of the script";
        case Token::Word: return "'" + token_.text + "'";
        case Token::Text: return "a quoted text";
        case Token::Open: return "'{'";
        case Token::Close: return "'}'";
        case Token::Equals: return "'='";
        }
        return "something else";
    }

    void expect(Token::Kind kind, const char* what) {
        if (token_.kind != kind) fail(std::string("expected ") + what + ", found " + describe());
        advance();
    }

    RegistryRoot root() {
        static const std::pair<const char*, const char*> hives[] = {
            {"HKCR", "HKEY_CLASSES_ROOT"}, {"HKLM", "HKEY_LOCAL_MACHINE"},
            {"HKCU", "HKEY_CURRENT_USER"}, {"HKU", "HKEY_USERS"},
        };
        if (token_.kind != Token::Word) fail("expected a registry hive, found " + describe());
        RegistryRoot root;
        for (const auto& [shortName, longName] : hives)
            if (sameWord(token_.text, shortName) || sameWord(token_.text, longName)) root.hive = shortName;
        if (root.hive.empty()) fail("unknown registry hive '" + token_.text + "'");
        advance();
        expect(Token::Open, "'{'");
        while (token_.kind != Token::Close) {
            if (token_.kind == Token::End) fail("missing '}'");
            root.keys.push_back(key());
        }
        advance();
        return root;
    }

    std::string name() {
        if (token_.kind != Token::Word && token_.kind != Token::Text) fail("expected a key name, found " + describe());
        std::string text = token_.text;
        advance();
        return text;
    }

    RegistryValue value(std::string valueName) {
        RegistryValue value;
        value.name = std::move(valueName);
        if (token_.kind != Token::Word) fail("expected a value type (s or d), found " + describe());
        if (sameWord(token_.text, "s")) {
            advance();
            if (token_.kind != Token::Text) fail("expected a quoted text, found " + describe());
            value.text = token_.text;
        } else if (sameWord(token_.text, "d")) {
            advance();
            const std::string& digits = token_.kind == Token::Text || token_.kind == Token::Word ? token_.text : "";
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value.number);
            if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
                fail("expected a number, found " + describe());
            value.isNumber = true;
        } else {
            fail("unknown value type '" + token_.text + "'");
        }
        advance();
        return value;
    }

    RegistryKey key() {
        RegistryKey key;
        if (token_.kind == Token::Word && sameWord(token_.text, "NoRemove")) {
            key.rule = KeyRule::NoRemove;
            advance();
        } else if (token_.kind == Token::Word && sameWord(token_.text, "ForceRemove")) {
            key.rule = KeyRule::ForceRemove;
            advance();
        }
        key.name = name();
        if (token_.kind == Token::Equals) {
            advance();
            key.values.push_back(value({}));
        }
        if (token_.kind != Token::Open) return key;
        advance();
        while (token_.kind != Token::Close) {
            if (token_.kind == Token::End) fail("missing '}'");
            if (token_.kind == Token::Word && sameWord(token_.text, "val")) {
                advance();
                std::string valueName = name();
                expect(Token::Equals, "'='");
                key.values.push_back(value(std::move(valueName)));
            } else {
                key.subkeys.push_back(this->key());
            }
        }
        advance();
        return key;
    }

    Lexer lexer_;
    Token token_{Token::End, {}, 1};
};

} // namespace

std::string expandRegistryScript(std::string_view script, const std::map<std::string, std::string>& replacements) {
    std::string out;
    out.reserve(script.size());
    int line = 1;
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i] == '\n') ++line;
        if (script[i] != '%') {
            out += script[i];
            continue;
        }
        const std::size_t end = script.find('%', i + 1);
        if (end == std::string_view::npos) throw RegistryScriptError(line, "a lone '%'");
        const std::string_view name = script.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += '%';
        } else {
            const auto found = replacements.find(std::string(name));
            if (found == replacements.end())
                throw RegistryScriptError(line, "unknown replacement %" + std::string(name) + "%");
            out += found->second;
        }
        i = end;
    }
    return out;
}

std::vector<RegistryRoot> parseRegistryScript(std::string_view script) {
    return Parser(script).script();
}
