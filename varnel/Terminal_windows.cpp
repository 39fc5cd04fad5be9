// Plain line input from standard input. A Ctrl-C during the read ends it as
// if input had ended, and the system calls the interrupt callback on a
// thread of its own, maybe a moment later: a read that fails waits briefly
// for that call before it counts as the end of input.
#include "varnel/Terminal.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>

bool standardOutputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

struct LineInput::State {
    std::mutex lock;
    std::condition_variable interruptCame;
    bool interrupted = false;
};

LineInput::LineInput() : state_(std::make_unique<State>()) {}
LineInput::~LineInput() = default;

void LineInput::interruptRead() {
    {
        std::lock_guard guard(state_->lock);
        state_->interrupted = true;
    }
    state_->interruptCame.notify_all();
}

void LineInput::remember(const std::string&) {}

LineInput::Got LineInput::read(const std::string& prompt, std::string& line) {
    std::cout << prompt << std::flush;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::unique_lock guard(state_->lock);
    if (!got) state_->interruptCame.wait_for(guard, std::chrono::milliseconds(250), [this] { return state_->interrupted; });
    if (state_->interrupted) {
        state_->interrupted = false;
        std::cin.clear();
        return Got::Interrupted;
    }
    return got ? Got::Line : Got::End;
}
