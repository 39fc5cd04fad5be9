// `varnel serve`: the far side of the "ScriptProxy" tester. It listens on
// one link of our own link factory (a packet-framed TCP server by default),
// takes the tester's messages one per received chunk ("connect", "script:",
// "variable:", "abort", "disconnect"), runs the scripts through a
// ScriptService on a worker thread, and answers with length-prefixed units:
// "OK", "log:" lines while a script runs, its result word, variable values.
#pragma once

#include "links/ISerial.h"
#include "links/ISerialClient.h"
#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What the server asks of the script runner. Called on the server's threads
// one at a time, except abortScript, which may come while runScript runs.
class ScriptService {
public:
    using LogSink = std::function<void(unsigned level, const std::string& text)>;
    virtual ~ScriptService() = default;
    // Runs the script's lines against the testers kept so far; each log line
    // goes to `log`. The result word: "passed", or the worst state met
    // ("failed", "warning", "error"); "aborted" after abortScript.
    virtual std::string runScript(const std::string& text, const LogSink& log) = 0;
    virtual void abortScript() = 0;
    // A variable's values as JSON text, or a text saying there is none.
    virtual std::string variable(const std::string& name) = 0;
    // Deletes the testers the scripts made, and forgets stored values.
    virtual void forget() = 0;
};

class ProxyServer final : public ISerialClient {
public:
    // `say` prints what the server does, for the person who started it.
    ProxyServer(ScriptService& service, std::function<void(const std::string&)> say);
    ~ProxyServer() override;
    ProxyServer(const ProxyServer&) = delete;
    ProxyServer& operator=(const ProxyServer&) = delete;

    // Makes and opens the link; false (and said why) when it cannot.
    bool start(const std::string& kind, std::uint32_t count, const VARIANT* parameters, const std::string& key);
    // Serves until `stop` is signalled.
    void serve(const platform::StopSignal& stop);

    // A unit as the tester reads it: 4-byte big-endian length, then the text.
    static std::vector<std::uint8_t> unit(const std::string& text);

    // ISerialClient, on the link's threads.
    void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) override;
    void onDataTransmitted(ISerial*, const std::uint8_t*, std::uint32_t) override {}
    void onOnline() override;
    void onOffline() override;
    void onCommEvent(ISerial*, CommEvent) override {}
    void onStatusChanged(ISerial*) override {}

private:
    enum class Event { Message, Offline };
    struct Arrival {
        Event event;
        std::string text;
    };

    void handle(const std::string& message);
    void startScript(std::string text);
    // Waits for the running script (if any) to end.
    void finishScript();
    void reply(const std::string& text);
    void forgetTesters(const char* why);

    ScriptService& service_;
    std::function<void(const std::string&)> say_;
    std::unique_ptr<ISerial> link_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<Arrival> arrivals_; // guarded by lock_
    platform::JoinableThread worker_;
    std::atomic<bool> scriptRunning_{false};
    std::atomic<bool> scriptAborted_{false};
    bool connected_ = false; // a tester said "connect"; serving thread only
};
