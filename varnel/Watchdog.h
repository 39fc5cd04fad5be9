// The time limit of a whole run: when it passes, the running action is
// aborted as an interrupt does; if the run still has not ended a grace
// period later, the process quits regardless.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class Watchdog {
public:
    static constexpr auto grace = std::chrono::seconds(5);

    // `onLimit` and `onGraceOver` run on the watchdog's own thread.
    Watchdog(std::chrono::milliseconds limit, std::function<void()> onLimit, std::function<void()> onGraceOver);
    // Ends the watch; the callbacks are not called after this returns.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    bool fired() const;

private:
    void watch(std::chrono::milliseconds limit);

    std::function<void()> onLimit_, onGraceOver_;
    mutable std::mutex lock_;
    std::condition_variable stop_;
    bool stopping_ = false;
    bool fired_ = false;
    std::thread thread_;
};
