#include "varnel/ProxyServer.h"

#include "links/BigEndian.h"
#include "links/SerialCreator.h"
#include "varnel/Script.h"

#include <algorithm>
#include <chrono>

namespace {

// How long the serving loop sleeps between looks when nothing arrives; a
// message wakes it at once.
constexpr auto idleWait = std::chrono::milliseconds(200);

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

} // namespace

ProxyServer::ProxyServer(ScriptService& service, std::function<void(const std::string&)> say)
    : service_(service), say_(std::move(say)) {}

ProxyServer::~ProxyServer() {
    if (scriptRunning_) service_.abortScript();
    worker_.joinFor(platform::waitWithoutLimit); // the service ends an aborted script
    // The link goes before the members its threads call back into.
    link_.reset();
}

std::vector<std::uint8_t> ProxyServer::unit(const std::string& text) {
    const auto length = static_cast<std::uint32_t>(text.size());
    std::vector<std::uint8_t> bytes(4 + text.size());
    storeBigEndian32(bytes.data(), length);
    std::copy(text.begin(), text.end(), bytes.begin() + 4);
    return bytes;
}

bool ProxyServer::start(const std::string& kind, std::uint32_t count, const VARIANT* parameters,
                        const std::string& key) {
    link_ = SerialCreator::instance()->create(this, kind.c_str());
    if (!link_) {
        say_("varnel serve: no link of kind '" + kind + "'");
        return false;
    }
    if (!key.empty())
        link_->setEncryptionKey(reinterpret_cast<const std::uint8_t*>(key.data()), static_cast<std::uint32_t>(key.size()));
    if (!link_->open(count, parameters)) {
        say_("varnel serve: the " + kind + " link could not be opened with these parameters");
        return false;
    }
    say_("Serving on " + link_->getStatus());
    return true;
}

void ProxyServer::onDataReceived(ISerial*, const std::uint8_t* data, std::uint32_t length) {
    try {
        // One received chunk is one message: a packet link delivers each
        // frame whole. A NUL ends a message, as the tester reads it.
        std::string text(reinterpret_cast<const char*>(data), length);
        text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
        {
            const std::lock_guard guard(lock_);
            arrivals_.push_back({Event::Message, std::move(text)});
        }
        arrived_.notify_one();
    } catch (...) {
        // Out of memory: the message is lost, the tester times out.
    }
}

void ProxyServer::onOnline() {}

void ProxyServer::onOffline() {
    try {
        {
            const std::lock_guard guard(lock_);
            arrivals_.push_back({Event::Offline, {}});
        }
        arrived_.notify_one();
    } catch (...) {
    }
}

void ProxyServer::serve(const platform::StopSignal& stop) {
    while (!stop.isSignalled()) {
        std::optional<Arrival> next;
        {
            std::unique_lock guard(lock_);
            if (arrived_.wait_for(guard, idleWait, [this] { return !arrivals_.empty(); })) {
                next = std::move(arrivals_.front());
                arrivals_.pop_front();
            }
        }
        if (!next) continue;
        if (next->event == Event::Offline) {
            if (connected_ || scriptRunning_) forgetTesters("the link went offline");
            connected_ = false;
            continue;
        }
        handle(next->text);
    }
    if (scriptRunning_) service_.abortScript();
    finishScript();
    service_.forget();
}

void ProxyServer::handle(const std::string& message) {
    if (message == "connect") {
        connected_ = true;
        say_("Tester connected");
        reply("OK");
    } else if (message == "abort") {
        if (scriptRunning_) {
            scriptAborted_ = true;
            service_.abortScript();
        }
        reply("OK");
    } else if (message == "disconnect") {
        connected_ = false;
        forgetTesters("the tester disconnected");
    } else if (startsWith(message, "script:")) {
        if (scriptRunning_) {
            reply("log:6a script arrived while another still runs; it is ignored");
            return;
        }
        startScript(message.substr(7));
    } else if (startsWith(message, "variable:")) {
        // Stored values change only while a script runs.
        finishScript();
        reply(service_.variable(message.substr(9)));
    } else {
        const std::string shown = utf8OrEscaped(message.substr(0, 80));
        say_("Unknown message ignored: '" + shown + "'");
        reply("log:6unknown message '" + shown + "' (connect, script:, variable:, abort, disconnect)");
    }
}

void ProxyServer::startScript(std::string text) {
    finishScript();
    scriptRunning_ = true;
    scriptAborted_ = false;
    worker_.start([this, text = std::move(text)] {
        std::string result = "error";
        try {
            result = service_.runScript(text, [this](unsigned level, const std::string& line) {
                reply("log:" + std::string(1, static_cast<char>('0' + level % 10)) + line);
            });
        } catch (const std::exception& error) {
            reply(std::string("log:6the script could not run: ") + error.what());
        }
        // An aborted script's tester has stopped waiting: a late result word
        // would end its next script exchange instead.
        if (!scriptAborted_) reply(result);
        scriptRunning_ = false;
    });
}

void ProxyServer::finishScript() { worker_.joinFor(platform::waitWithoutLimit); }

void ProxyServer::forgetTesters(const char* why) {
    if (scriptRunning_) {
        scriptAborted_ = true;
        service_.abortScript();
    }
    finishScript();
    service_.forget();
    say_(std::string("Testers deleted: ") + why);
}

void ProxyServer::reply(const std::string& text) {
    const std::vector<std::uint8_t> bytes = unit(text);
    link_->send(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}
