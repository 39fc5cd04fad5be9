#include "varnel/Progress.h"

#include <algorithm>
#include <cctype>
#include <cmath>

std::optional<double> leadingTimeout(const ActionHelp& action, const std::vector<Literal>& parameters) {
    if (action.parameterLines.empty() || parameters.empty()) return std::nullopt;
    std::string first = action.parameterLines.front();
    std::transform(first.begin(), first.end(), first.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (first.find("timeout") == std::string::npos) return std::nullopt;
    if (const auto* whole = std::get_if<std::int32_t>(&parameters.front())) return *whole;
    if (const auto* number = std::get_if<double>(&parameters.front())) return *number;
    return std::nullopt;
}

std::string progressText(const std::string& instance, const std::string& action, std::optional<double> limitSeconds,
                         double elapsedSeconds) {
    std::string text = instance;
    text.append(" ").append(action).append(": ");
    if (limitSeconds) {
        const double left = std::max(0.0, std::ceil(*limitSeconds - elapsedSeconds));
        return text.append(std::to_string(static_cast<long long>(left))).append(" s left");
    }
    return text.append(std::to_string(static_cast<long long>(elapsedSeconds))).append(" s");
}

Progress::Progress(LogPrinter& printer) : printer_(printer), thread_([this] { tick(); }) {}

Progress::~Progress() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Progress::begin(std::string instance, std::string action, std::optional<double> limitSeconds) {
    {
        std::lock_guard guard(lock_);
        instance_ = std::move(instance);
        action_ = std::move(action);
        limit_ = limitSeconds;
        start_ = std::chrono::steady_clock::now();
        active_ = true;
        ++generation_;
    }
    changed_.notify_all();
}

void Progress::end() {
    {
        std::lock_guard guard(lock_);
        active_ = false;
    }
    changed_.notify_all();
    printer_.clearStatus();
}

void Progress::tick() {
    try {
        std::unique_lock guard(lock_);
        while (!stopping_) {
            changed_.wait(guard, [this] { return stopping_ || active_; });
            const unsigned step = generation_;
            const auto wake = [&] { return stopping_ || !active_ || generation_ != step; };
            while (!changed_.wait_for(guard, std::chrono::seconds(1), wake)) {
                const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
                // Under the lock, so that end() clears what this shows.
                printer_.showStatus(progressText(instance_, action_, limit_, elapsed));
            }
        }
    } catch (...) {
        // Without the status line the step still runs and reports.
    }
}
