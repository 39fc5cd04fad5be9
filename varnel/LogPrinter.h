// What our host prints while a script runs: the testers' log lines with
// time, tester instance, level name and text, filtered by level, and the
// host's own lines, all through one lock since testers log from their link
// threads too. The lines of the running step are also kept for the JUnit
// report, filtered or not.
#pragma once

#include "platform/automation.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Level names as shown: 3 Info, 4 Trace, 5 Warning, 6 Error, else "Level N".
std::string levelName(ULONG level);

// Order of importance for the filter: trace < info < warning < error.
// Other level numbers count as info.
int levelRank(ULONG level);
// The rank a --level name stands for: trace, info, warning, error, or none
// (nothing shown).
std::optional<int> rankFromName(std::string_view name);

class LogPrinter {
public:
    // Every tester log line also goes to `forward` (instance, level, text)
    // while one of these lives; `varnel serve` sends them to its tester.
    using Forward = std::function<void(const std::string& instance, ULONG level, std::string_view text)>;
    class Forwarding {
    public:
        Forwarding(LogPrinter& printer, Forward forward);
        ~Forwarding();
        Forwarding(const Forwarding&) = delete;
        Forwarding& operator=(const Forwarding&) = delete;

    private:
        LogPrinter& printer_;
    };

    LogPrinter(std::ostream& out, int lowestRank, bool showTime);

    // One log line of a tester; the text's line ends are trimmed.
    void log(const std::string& instance, ULONG level, std::string_view text);
    // One line of the host's own, always shown.
    void print(const std::string& text);

    // The last lines an instance logged, whatever the level filter let
    // through, oldest first.
    static constexpr std::size_t recentLineCount = 20;
    std::vector<std::string> recentLines(const std::string& instance);
    // Whether every level is shown, so that recent lines are on screen already.
    bool showsEverything() const { return lowestRank_ == 0; }

    // Keeps every log line from now on until takeRecorded.
    void startRecording();
    std::vector<std::string> takeRecorded();

    // A one-line status ("link waitfor: 12 s left") that the next line
    // printed replaces; only when status lines are on (on a terminal).
    void enableStatus() { statusOn_ = true; }
    bool showsStatus() const { return statusOn_; }
    void showStatus(const std::string& text);
    void clearStatus();

    // The form a log line is printed in (without the time when showTime is off).
    static std::string format(const std::string& time, const std::string& instance, ULONG level,
                              std::string_view text);

private:
    std::mutex lock_;
    std::ostream& out_;
    int lowestRank_;
    bool showTime_;
    bool recording_ = false;
    bool statusOn_ = false;
    std::size_t statusWidth_ = 0; // of the status on screen; 0 when none
    void eraseStatus();           // with lock_ held
    std::vector<std::string> recorded_;
    std::map<std::string, std::deque<std::string>> recent_;
    Forward forward_; // guarded by lock_
};
