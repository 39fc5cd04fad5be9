#include "platform/thread.h"

#include <cassert>

namespace platform {

JoinableThread::~JoinableThread() {
    if (!thread_.joinable()) return;
    assert(thread_.get_id() != std::this_thread::get_id() && "a thread cannot join itself");
    thread_.join();
}

void JoinableThread::start(std::function<void()> body) {
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard guard(lock_);
        running_ = true;
        escaped_ = nullptr;
    }
    try {
        thread_ = std::thread([this, body = std::move(body)] { run(body); });
    } catch (...) {
        std::lock_guard guard(lock_);
        running_ = false;
        throw;
    }
}

void JoinableThread::run(const std::function<void()>& body) noexcept {
    // Keeping the exception itself, not its text, allocates nothing here,
    // so nothing can throw out of this handler.
    std::exception_ptr escaped;
    try {
        body();
    } catch (...) {
        escaped = std::current_exception();
    }
    std::lock_guard guard(lock_);
    escaped_ = escaped;
    running_ = false;
    bodyEnded_.notify_all();
}

bool JoinableThread::joinFor(std::chrono::milliseconds limit) {
    if (!thread_.joinable()) return true;
    assert(thread_.get_id() != std::this_thread::get_id() && "a thread cannot join itself");
    {
        std::unique_lock guard(lock_);
        const auto ended = [this] { return !running_; };
        // wait_for adds the limit to the clock's time, which waitWithoutLimit
        // would overflow; a limit of over a year counts as none.
        if (limit > std::chrono::hours(24 * 365))
            bodyEnded_.wait(guard, ended);
        else if (!bodyEnded_.wait_for(guard, limit, ended))
            return false;
    }
    // Only the thread's exit is left after its body.
    thread_.join();
    return true;
}

bool JoinableThread::isRunning() const {
    std::lock_guard guard(lock_);
    return running_;
}

std::optional<std::string> JoinableThread::failure() const {
    std::exception_ptr escaped;
    {
        std::lock_guard guard(lock_);
        escaped = escaped_;
    }
    if (!escaped) return std::nullopt;
    try {
        std::rethrow_exception(escaped);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

} // namespace platform
