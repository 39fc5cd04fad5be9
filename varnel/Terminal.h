// The terminal our host talks to: whether standard output is one (for the
// status line), and lines typed at the console's prompt, with line editing
// and history where the build has libedit.
#pragma once

#include <memory>
#include <string>

bool standardOutputIsTerminal();

class LineInput {
public:
    LineInput();
    ~LineInput();
    LineInput(const LineInput&) = delete;
    LineInput& operator=(const LineInput&) = delete;

    enum class Got { Line, Interrupted, End };
    // Shows the prompt and waits for a line (without its line end);
    // Interrupted when interruptRead came first, End at the end of input.
    Got read(const std::string& prompt, std::string& line);
    // Makes the waiting read (or the next one) return Interrupted. Callable
    // from any thread.
    void interruptRead();
    void remember(const std::string& line); // for the history

private:
    struct State;
    std::unique_ptr<State> state_;
};
