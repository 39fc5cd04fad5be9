// A long run of the real plug-in, loaded as our host loads it and driven
// through the testers' COM interfaces: many actions over the loop-back link
// and over TCP, then many open/close (and connect/disconnect) cycles of every
// link kind that can run here. It samples the process's resident memory, open
// descriptors and threads after a warm-up and again at the end, and fails
// when any of them grew: what leaks a little per action or per cycle shows.
//
// Each link kind has one tester made once: a deleted link pauses 1000 ms, so
// the cycles open and close one link rather than make and delete testers.
#include "varnel/Plugin.h"
#include "varnel/Values.h"
#include "quillon/ActionResult.h"
#include "com/UntypedDispatch.h"
#include "platform/text.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Parameters = std::vector<Literal>;

// Ports on 127.0.0.1, apart from those the test suites use.
constexpr int tcpActionPort = 47911;
constexpr int tcpCyclePort = 47912;
constexpr int tcpPacketPort = 47913;
constexpr int udpPort = 47914;
constexpr int rs232Port = 5, rs232PeerPort = 6; // VARNEL_SERIAL_DEVICE_PATTERN names their devices
const std::string visaResource = "GPIB0::22::INSTR";

// Growth allowed between the two samples: allocator noise for memory, none
// for descriptors and threads.
constexpr long memoryToleranceKiB = 2048;

struct Sample {
    long residentKiB = 0;
    long descriptors = 0;
    long threads = 0;
};

long statusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name + ":", 0) == 0) return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    return -1;
}

Sample sampleProcess() {
    Sample sample;
    sample.residentKiB = statusField("VmRSS");
    sample.threads = statusField("Threads");
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++sample.descriptors;
    }
    --sample.descriptors; // the directory iterator's own
    return sample;
}

void print(const char* when, const Sample& s) {
    std::printf("%-6s resident %ld KiB, %ld descriptors, %ld threads\n", when, s.residentKiB, s.descriptors,
                s.threads);
}

// The host's log sink: counts the lines and keeps the last error for a
// failure message.
class CountingHost final : public UntypedDispatch<ITesterHost, IID_ITesterHost> {
public:
    HRESULT STDMETHODCALLTYPE Log(ULONG level, BSTR text) override {
        try {
            ++lines;
            if (level >= static_cast<ULONG>(LogLevel::Error)) {
                const std::lock_guard lock(mutex_);
                lastError_ = platform::narrowFromBstr(text);
            }
        } catch (...) {
        }
        return S_OK;
    }
    std::string lastError() {
        const std::lock_guard lock(mutex_);
        return lastError_;
    }
    std::atomic<long> lines{0};

private:
    std::mutex mutex_;
    std::string lastError_;
};

class SoakFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One tester instance as a script would use it: made with "new" of a link
// kind, actions by name, every one expected to pass.
class Instance {
public:
    Instance(const Plugin& plugin, CountingHost& host, std::string name, const std::string& tester, Parameters made)
        : host_(host), name_(std::move(name)), info_(plugin.find(tester)) {
        if (!info_) throw SoakFailure("the plug-in has no tester '" + tester + "'");
        HRESULT failure = S_OK;
        object_ = plugin.create(*info_, failure);
        if (!object_) throw SoakFailure(name_ + ": the creator made no tester (" + hresultText(failure) + ")");
        object_->SetHost(&host);
        VARIANT_BOOL ok = VARIANT_FALSE;
        if (FAILED(object_->New(variantArray(made).get(), &ok)) || ok != VARIANT_TRUE)
            throw SoakFailure(name_ + ": new failed: " + host_.lastError());
    }
    ~Instance() {
        VARIANT_BOOL ok = VARIANT_FALSE;
        object_->Delete(&ok);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    ActionResult execute(const std::string& action, const Parameters& parameters = {}) {
        const int index = info_->actionIndex(action);
        if (index < 0) throw SoakFailure(name_ + ": no action '" + action + "'");
        SafeArray results;
        ULONG state = 99;
        const HRESULT hr =
            object_->ExecuteAction(static_cast<ULONG>(index), variantArray(parameters).get(), results.put(), &state);
        if (FAILED(hr)) throw SoakFailure(name_ + " " + action + ": " + hresultText(hr));
        ++actions;
        return static_cast<ActionResult>(state);
    }
    // The action, which must pass.
    void run(const std::string& action, const Parameters& parameters = {}) {
        const ActionResult state = execute(action, parameters);
        if (state != ActionResult::Passed)
            throw SoakFailure(name_ + " " + action + ": result state " + std::to_string(static_cast<ULONG>(state)) +
                              " (last error: " + host_.lastError() + ")");
    }
    std::string status() {
        Bstr text;
        object_->GetStatus(text.put());
        return platform::narrowFromBstr(text.get());
    }
    // Waits (at most 10 s) until the link's status text ends in `ending`.
    void awaitStatus(const std::string& ending) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!status().ends_with(ending)) {
            if (Clock::now() > deadline)
                throw SoakFailure(name_ + ": status not '..." + ending + "' within 10 s: " + status());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    static inline long actions = 0;

private:
    CountingHost& host_;
    std::string name_;
    const TesterInfo* info_;
    ComPtr<ITester> object_;
};

// One line sent by `from` and waited for by `to`: two actions.
void exchange(Instance& from, Instance& to, long number) {
    const std::string text = "soak " + std::to_string(number) + ";";
    from.run("send", {5, text + "\\r\\n"});
    to.run("waitfor", {5, "'" + text + "'"});
}

// Pairs of send and waitfor, with a scanf every 50 pairs and a
// clearReceiveQueue (which waits 100 ms for quiet) every 5000: `actions`
// actions in all, alternately each way when the two differ.
void exchangeActions(Instance& a, Instance& b, long actions) {
    const long start = Instance::actions;
    for (long i = 0; Instance::actions - start < actions; ++i) {
        if (i % 2) exchange(b, a, i); else exchange(a, b, i);
        if (i % 50 == 49) {
            a.run("send", {5, "reading %d ok\\r\\n", static_cast<std::int32_t>(i)});
            b.run("scanf", {5, "reading %d %s"});
        }
        if (i % 5000 == 4999) {
            a.run("logdata", {true});
            b.run("clearReceiveQueue");
        }
    }
}

// One kind of link, cycled: `cycle` runs once per cycle, the number given.
struct CycledKind {
    std::string name;
    std::function<void(long)> cycle;
    std::function<void()> prepare = [] {}; // before each run of cycles

    void run(long cycles) {
        prepare();
        for (long i = 0; i < cycles; ++i) try {
                cycle(i);
            } catch (const SoakFailure& failure) {
                throw SoakFailure(name + " cycle " + std::to_string(i) + ": " + failure.what());
            }
    }
};

struct Options {
    std::filesystem::path plugin;
    long actions = 100000;
    long cycles = 1000;
};

Options readOptions(int argc, char** argv) {
    Options options;
    options.plugin = platform::executableDirectory() / platform::sharedLibraryFileName("VarnelPlugin");
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) throw SoakFailure("usage: varnel_soak [--plugin FILE] [--actions N] [--cycles N]");
        const std::string value = argv[++i];
        if (option == "--plugin") options.plugin = value;
        else if (option == "--actions") options.actions = std::stol(value);
        else if (option == "--cycles") options.cycles = std::stol(value);
        else throw SoakFailure("unknown option " + option);
    }
    return options;
}

// Deleting a tester pauses 1000 ms: all of them at once.
void deleteInParallel(std::vector<std::unique_ptr<Instance>>& instances) {
    std::vector<std::thread> deleting;
    for (auto& instance : instances) deleting.emplace_back([&instance] { instance.reset(); });
    for (auto& thread : deleting) thread.join();
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int soak(const Options& options) {
    const Plugin plugin = Plugin::loadFile(options.plugin);
    const auto host = ComPtr<CountingHost>::adopt(new CountingHost);
    std::vector<std::unique_ptr<Instance>> instances;
    auto make = [&](const std::string& name, const std::string& kind) {
        return instances.emplace_back(std::make_unique<Instance>(plugin, *host.get(), name, "serial", Parameters{kind})).get();
    };
    const bool haveSerialDevices = std::getenv("VARNEL_SERIAL_DEVICE_PATTERN") != nullptr;

    // The instances, all made before the first sample and deleted after the last.
    auto loop = make("loop", "loopback");
    auto cycledLoop = make("loop-cycles", "loopback");
    auto tcpServer = make("tcp-server", "tcp");
    auto tcpClient = make("tcp-client", "tcp");
    auto cycleServer = make("cycle-server", "tcp");
    auto cycleClient = make("cycle-client", "tcp");
    auto packetServer = make("pkt-server", "tcppkt");
    auto packetClient = make("pkt-client", "tcppkt");
    auto udp = make("udp", "udp");
    auto process = make("process", "process");
    auto visa = make("visa", "visa");
    Instance *rs232 = nullptr, *rs232Peer = nullptr, *rs232Packet = nullptr, *rs232PacketPeer = nullptr;
    if (haveSerialDevices) {
        rs232 = make("rs232", "rs232");
        rs232Peer = make("rs232-peer", "rs232");
        rs232Packet = make("rs232pkt", "rs232pkt");
        rs232PacketPeer = make("rs232pkt-peer", "rs232pkt");
    }

    loop->run("open");
    tcpServer->run("open", {tcpActionPort});
    tcpClient->run("open", {"127.0.0.1", tcpActionPort});
    tcpServer->awaitStatus(" online");
    tcpClient->awaitStatus(" online");

    // A server opens, a client connects to it, sends a line, and both close.
    // (A server that stays open pauses 100 ms before it listens again after
    // each connection, and a client that came earlier is dropped.)
    auto tcpCycle = [](Instance& server, Instance& client, int port) {
        return [&server, &client, port](long i) {
            server.run("open", {port});
            server.awaitStatus("accepting connection offline");
            client.run("open", {"127.0.0.1", port});
            client.awaitStatus(" online");
            exchange(client, server, i);
            client.run("close");
            server.run("close");
        };
    };
    // Open, exchange now and then, close.
    auto openClose = [](Instance& link, Parameters parameters, Instance* peer = nullptr) {
        return [&link, parameters, peer](long i) {
            link.run("open", parameters);
            if (peer && i % 100 == 0) exchange(link, *peer, i);
            link.run("close");
        };
    };
    std::vector<CycledKind> kinds = {
        {"loopback", openClose(*cycledLoop, {}, cycledLoop)},
        {"tcp server", [&](long) { tcpServer->run("close"); tcpServer->run("open", {tcpActionPort}); }},
        {"tcp server and client", tcpCycle(*cycleServer, *cycleClient, tcpCyclePort)},
        {"tcppkt server and client", tcpCycle(*packetServer, *packetClient, tcpPacketPort)},
        {"udp", [&](long i) {
             udp->run("open", {udpPort, "127.0.0.1", udpPort});
             if (i % 100 == 0) {
                 // A datagram sent before the reader thread has bound the
                 // socket is dropped: give it a moment, and send again if so.
                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
                 const std::string text = "udp " + std::to_string(i) + ";";
                 for (int tries = 1; udp->execute("send", {1, text}) != ActionResult::Passed; ++tries)
                     if (tries == 5) throw SoakFailure("udp: no datagram went out");
                 udp->run("waitfor", {5, "'" + text + "'"});
             }
             udp->run("close");
         }},
        {"process", [&](long i) {
             process->run("open");
             if (i % 100 == 0) {
                 process->run("send", {5, "echo soak-%d-done\\n", static_cast<std::int32_t>(i)});
                 process->run("waitfor", {10, "'soak-" + std::to_string(i) + "-done'"});
             }
             process->run("close");
         }},
        {"visa", [&](long i) {
             visa->run("open", {visaResource});
             if (i % 100 == 0) {
                 visa->run("send", {5, "*IDN?\\n"});
                 visa->run("waitfor", {5, "'Simulated Instrument'"});
             }
             visa->run("close");
         }},
    };
    if (haveSerialDevices) {
        // Each kind needs a peer of its own kind on the far end of the pair.
        auto peerOfKind = [&](Instance& wanted, Instance& other) {
            return [&wanted, &other] {
                if (other.status().ends_with(" online")) other.run("close");
                if (!wanted.status().ends_with(" online")) wanted.run("open", {rs232PeerPort, 115200});
            };
        };
        kinds.push_back({"rs232", openClose(*rs232, {rs232Port, 115200}, rs232Peer),
                         peerOfKind(*rs232Peer, *rs232PacketPeer)});
        kinds.push_back({"rs232pkt", openClose(*rs232Packet, {rs232Port, 115200}, rs232PacketPeer),
                         peerOfKind(*rs232PacketPeer, *rs232Peer)});
    } else {
        std::printf("rs232, rs232pkt: skipped (VARNEL_SERIAL_DEVICE_PATTERN names no pseudo-terminal pair)\n");
    }

    // The warm-up fills the allocator's pools and makes every thread kind once.
    const auto warmUp = Clock::now();
    exchangeActions(*loop, *loop, 2000);
    exchangeActions(*tcpClient, *tcpServer, 2000);
    for (auto& kind : kinds) kind.run(10);
    tcpServer->awaitStatus(" online"); // the tcp server's cycles left it waiting for the client again
    std::printf("warm-up: %.1f s\n", secondsSince(warmUp));
    const Sample before = sampleProcess();
    print("start:", before);

    const auto start = Clock::now();
    long actionsBefore = Instance::actions;
    exchangeActions(*loop, *loop, options.actions);
    std::printf("loop-back: %ld actions in %.1f s\n", Instance::actions - actionsBefore, secondsSince(start));
    auto phase = Clock::now();
    actionsBefore = Instance::actions;
    exchangeActions(*tcpClient, *tcpServer, options.actions);
    std::printf("tcp: %ld actions in %.1f s\n", Instance::actions - actionsBefore, secondsSince(phase));
    for (auto& kind : kinds) {
        phase = Clock::now();
        kind.run(options.cycles);
        std::printf("%s: %ld open/close cycles in %.1f s\n", kind.name.c_str(), options.cycles, secondsSince(phase));
    }
    tcpServer->awaitStatus(" online");
    const Sample after = sampleProcess();
    print("end:", after);
    std::printf("soak: %ld actions, %ld log lines, %.1f s\n", Instance::actions, host->lines.load(),
                secondsSince(start));

    bool grew = false;
    if (after.residentKiB - before.residentKiB > memoryToleranceKiB) {
        std::printf("resident memory grew by %ld KiB (allowed: %ld KiB)\n", after.residentKiB - before.residentKiB,
                    memoryToleranceKiB);
        grew = true;
    }
    if (after.descriptors > before.descriptors) {
        std::printf("open descriptors grew by %ld\n", after.descriptors - before.descriptors);
        grew = true;
    }
    if (after.threads > before.threads) {
        std::printf("threads grew by %ld\n", after.threads - before.threads);
        grew = true;
    }
    deleteInParallel(instances);
    std::printf(grew ? "FAILED\n" : "PASSED\n");
    return grew ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const ComRuntime com;
        return soak(readOptions(argc, argv));
    } catch (const std::exception& failure) {
        std::printf("soak stopped: %s\nFAILED\n", failure.what());
        return 2;
    }
}
