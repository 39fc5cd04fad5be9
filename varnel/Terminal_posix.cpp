// Standard input is read through the links' wait for "ready or stopped", so
// that an interrupt wakes a waiting read. On a terminal, and when the build has
// libedit, libedit edits the line and keeps the history, reading its
// characters through the same wakeable read.
#include "varnel/Terminal.h"

#include "platform/stop_signal.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <unistd.h>

#ifdef VARNEL_HAVE_LIBEDIT
#include <histedit.h>
#endif

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

namespace {

enum class ByteRead { Byte, Woken, End };

// One byte of standard input, or the wake-up, whichever comes first.
ByteRead readByte(platform::StopSignal& wake, char& byte) {
    for (;;) {
        switch (platform::waitUntilReadyOrStopped(STDIN_FILENO, wake, std::chrono::hours(1))) {
        case platform::WaitResult::Stopped: wake.reset(); return ByteRead::Woken;
        case platform::WaitResult::TimedOut: continue;
        case platform::WaitResult::Failed: return ByteRead::End;
        case platform::WaitResult::Ready: break;
        }
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return got == 1 ? ByteRead::Byte : ByteRead::End;
    }
}

} // namespace

struct LineInput::State {
    platform::StopSignal wake;
    bool woken = false; // the last read ended by interruptRead
#ifdef VARNEL_HAVE_LIBEDIT
    std::string prompt;
    std::mbstate_t shift{};
    EditLine* editor = nullptr;
    History* history = nullptr;
    HistEvent event{};

    static State& of(EditLine* editor) {
        void* data = nullptr;
        el_get(editor, EL_CLIENTDATA, &data);
        return *static_cast<State*>(data);
    }
    static const char* promptOf(EditLine* editor) { return of(editor).prompt.c_str(); }
    // libedit's character source: -1 (an error for libedit) ends el_gets
    // when the read is interrupted.
    static int character(EditLine* editor, wchar_t* out) {
        State& state = of(editor);
        for (;;) {
            char byte = 0;
            switch (readByte(state.wake, byte)) {
            case ByteRead::Woken: state.woken = true; errno = EINTR; return -1;
            case ByteRead::End: return 0;
            case ByteRead::Byte: break;
            }
            const std::size_t made = std::mbrtowc(out, &byte, 1, &state.shift);
            if (made == static_cast<std::size_t>(-2)) continue; // more bytes of this character
            if (made == static_cast<std::size_t>(-1)) {
                state.shift = {};
                *out = L'?';
            }
            return 1;
        }
    }
#endif
};

LineInput::LineInput() : state_(std::make_unique<State>()) {
#ifdef VARNEL_HAVE_LIBEDIT
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1) return;
    state_->editor = el_init("varnel", stdin, stdout, stderr);
    state_->history = history_init();
    if (!state_->editor || !state_->history) return;
    history(state_->history, &state_->event, H_SETSIZE, 500);
    el_set(state_->editor, EL_CLIENTDATA, state_.get());
    el_set(state_->editor, EL_EDITOR, "emacs");
    el_set(state_->editor, EL_PROMPT, &State::promptOf);
    el_set(state_->editor, EL_HIST, history, state_->history);
    el_set(state_->editor, EL_GETCFN, &State::character);
#endif
}

LineInput::~LineInput() {
#ifdef VARNEL_HAVE_LIBEDIT
    if (state_->editor) el_end(state_->editor);
    if (state_->history) history_end(state_->history);
#endif
}

void LineInput::interruptRead() { state_->wake.signal(); }

LineInput::Got LineInput::read(const std::string& prompt, std::string& line) {
    state_->woken = false;
    line.clear();
#ifdef VARNEL_HAVE_LIBEDIT
    if (state_->editor) {
        state_->prompt = prompt;
        int count = 0;
        const char* got = el_gets(state_->editor, &count);
        if (state_->woken) return Got::Interrupted;
        if (!got || count <= 0) return Got::End;
        line.assign(got, static_cast<std::size_t>(count));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return Got::Line;
    }
#endif
    std::fputs(prompt.c_str(), stdout);
    std::fflush(stdout);
    for (;;) {
        char byte = 0;
        switch (readByte(state_->wake, byte)) {
        case ByteRead::Woken: return Got::Interrupted;
        case ByteRead::End: return line.empty() ? Got::End : Got::Line;
        case ByteRead::Byte: break;
        }
        if (byte == '\n') break;
        if (byte != '\r') line += byte;
    }
    return Got::Line;
}

void LineInput::remember(const std::string& line) {
#ifdef VARNEL_HAVE_LIBEDIT
    if (state_->history) history(state_->history, &state_->event, H_ENTER, line.c_str());
#else
    (void)line;
#endif
}
