#include "proxy/ScriptFile.h"

namespace proxy {

namespace {

enum class LineEnd { Newline, EndOfFile, TooLong };

// One line without its line end, as a text-mode read gives it: CR LF is
// one line end; a CR alone is a character of the line.
LineEnd readLine(std::FILE* file, std::string& line) {
    line.clear();
    for (;;) {
        if (line.size() == maxScriptLineLength) return LineEnd::TooLong;
        const int c = std::getc(file);
        if (c == EOF) return LineEnd::EndOfFile;
        if (c == '\n') return LineEnd::Newline;
        if (c == '\r') {
            const int next = std::getc(file);
            if (next == '\n') return LineEnd::Newline;
            if (next != EOF) std::ungetc(next, file);
        }
        line.push_back(static_cast<char>(c));
    }
}

} // namespace

std::string readScriptText(std::FILE* file) {
    std::string text;
    std::string line;
    for (LineEnd end = LineEnd::Newline; end == LineEnd::Newline;) {
        end = readLine(file, line);
        if (!text.empty()) text.push_back('\n');
        text += line;
    }
    return text;
}

} // namespace proxy
