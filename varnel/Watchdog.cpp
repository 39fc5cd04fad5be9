#include "varnel/Watchdog.h"

Watchdog::Watchdog(std::chrono::milliseconds limit, std::function<void()> onLimit, std::function<void()> onGraceOver)
    : onLimit_(std::move(onLimit)), onGraceOver_(std::move(onGraceOver)),
      thread_([this, limit] { watch(limit); }) {}

Watchdog::~Watchdog() {
    {
        const std::lock_guard guard(lock_);
        stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
}

bool Watchdog::fired() const {
    const std::lock_guard guard(lock_);
    return fired_;
}

void Watchdog::watch(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    if (stop_.wait_for(guard, limit, [this] { return stopping_; })) return;
    fired_ = true;
    guard.unlock();
    try {
        onLimit_();
    } catch (...) {
        // The grace period still ends the run.
    }
    guard.lock();
    if (stop_.wait_for(guard, grace, [this] { return stopping_; })) return;
    onGraceOver_();
}
