#include "varnel/LogPrinter.h"

#include "varnel/Script.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

std::string timeOfDay() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    // localtime's result, and the time zone state it reads, are shared by
    // every printer of the process (scripts run at once have one each).
    static std::mutex localtimeLock;
    std::tm local{};
    {
        const std::lock_guard guard(localtimeLock);
        local = *std::localtime(&seconds);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

} // namespace

std::string levelName(ULONG level) {
    switch (level) {
    case 3: return "Info";
    case 4: return "Trace";
    case 5: return "Warning";
    case 6: return "Error";
    default: return "Level " + std::to_string(level);
    }
}

int levelRank(ULONG level) {
    switch (level) {
    case 4: return 0;
    case 5: return 2;
    case 6: return 3;
    default: return 1;
    }
}

std::optional<int> rankFromName(std::string_view name) {
    if (name == "trace") return 0;
    if (name == "info") return 1;
    if (name == "warning") return 2;
    if (name == "error") return 3;
    if (name == "none") return 4;
    return std::nullopt;
}

LogPrinter::LogPrinter(std::ostream& out, int lowestRank, bool showTime)
    : out_(out), lowestRank_(lowestRank), showTime_(showTime) {}

std::string LogPrinter::format(const std::string& time, const std::string& instance, ULONG level,
                               std::string_view text) {
    std::string line = time.empty() ? std::string() : time + " ";
    std::string levelText = levelName(level);
    levelText.resize(std::max<std::size_t>(levelText.size(), 7), ' ');
    line += instance + " " + levelText + " ";
    // Lines within the text are indented under the first.
    const std::string indent(line.size(), ' ');
    for (const char c : utf8OrEscaped(trimmed(text))) {
        if (c == '\r') continue;
        line += c;
        if (c == '\n') line += indent;
    }
    return line;
}

void LogPrinter::log(const std::string& instance, ULONG level, std::string_view text) {
    std::lock_guard guard(lock_);
    const std::string time = timeOfDay();
    std::string line = format(time, instance, level, text);
    std::deque<std::string>& recent = recent_[instance];
    recent.push_back(line);
    if (recent.size() > recentLineCount) recent.pop_front();
    if (recording_) recorded_.push_back(std::move(line));
    // Under the lock, so that forwarded lines keep their order.
    if (forward_) forward_(instance, level, utf8OrEscaped(text));
    if (levelRank(level) < lowestRank_) return;
    eraseStatus();
    out_ << format(showTime_ ? time : std::string(), instance, level, text) << '\n'
                                              << std::flush;
}

void LogPrinter::print(const std::string& text) {
    std::lock_guard guard(lock_);
    eraseStatus();
    out_ << text << '\n' << std::flush;
}

// The status is overwritten with spaces rather than cleared with an escape
// sequence, so that every console shows it the same, Windows' included.
void LogPrinter::eraseStatus() {
    if (statusWidth_ == 0) return;
    out_ << '\r' << std::string(statusWidth_, ' ') << '\r';
    statusWidth_ = 0;
}

void LogPrinter::showStatus(const std::string& text) {
    std::lock_guard guard(lock_);
    if (!statusOn_) return;
    eraseStatus();
    out_ << text << std::flush;
    statusWidth_ = text.size();
}

void LogPrinter::clearStatus() {
    std::lock_guard guard(lock_);
    eraseStatus();
    out_ << std::flush;
}

LogPrinter::Forwarding::Forwarding(LogPrinter& printer, Forward forward) : printer_(printer) {
    const std::lock_guard guard(printer_.lock_);
    printer_.forward_ = std::move(forward);
}

LogPrinter::Forwarding::~Forwarding() {
    const std::lock_guard guard(printer_.lock_);
    printer_.forward_ = nullptr;
}

std::vector<std::string> LogPrinter::recentLines(const std::string& instance) {
    std::lock_guard guard(lock_);
    const auto found = recent_.find(instance);
    if (found == recent_.end()) return {};
    return {found->second.begin(), found->second.end()};
}

void LogPrinter::startRecording() {
    std::lock_guard guard(lock_);
    recording_ = true;
    recorded_.clear();
}

std::vector<std::string> LogPrinter::takeRecorded() {
    std::lock_guard guard(lock_);
    recording_ = false;
    return std::move(recorded_);
}
