// Whole-link cases over TCP to an echo peer on this machine, in wall time
// as a script's user sees them: the serial tester as a TCP client, driven
// in process through ITester3, with data logging off.
//   varnel_linkbench file PORT PATH RUNS
//     "sendFile" then "compareFile" of the file, RUNS times: the seconds of each.
//   varnel_linkbench sunkfile PORT PATH RUNS
//     "sendFile" of the file with the echo sunk ("sinkdata"): the link's
//     own share, without the receive queue and the compare.
//   varnel_linkbench roundtrip PORT COUNT WARMUP
//     "send" then "waitfor" of 16 bytes, WARMUP unmeasured times, then
//     COUNT times: the median microseconds of one round trip.
// Prints one JSON object. bench/linkbench.py starts the echo peer and runs
// this beside its anchors.
#include "bench/BenchTester.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace bench;
using Clock = std::chrono::steady_clock;

constexpr std::size_t roundTripBytes = 16;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

class TcpClient : public OpenTester {
public:
    explicit TcpClient(int port) : OpenTester("tcp", true, {Value("127.0.0.1"), Value(port)}) {}

    // "send" then "waitfor" of the 16-byte text numbered `number`.
    void roundTrip(long number) {
        char text[roundTripBytes + 1];
        std::snprintf(text, sizeof text, "rt%014ld", number);
        if (run(Send, ParameterArray{Value(actionTimeoutSeconds), Value(text)}) != ActionResult::Passed ||
            run(Waitfor, ParameterArray{Value(actionTimeoutSeconds), Value(text)}) != ActionResult::Passed)
            throw std::runtime_error("a round trip failed");
    }
};

void fileThereAndBack(int port, const std::string& path, int runs, bool sunk) {
    TcpClient client(port);
    client.roundTrip(0); // the connection is up before the clock starts
    if (sunk) client.run(SinkData, ParameterArray{Value::boolean(true)});
    const ParameterArray parameters{Value(actionTimeoutSeconds), Value(path)};
    std::string seconds;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        if (client.run(SendFile, parameters) != ActionResult::Passed ||
            (!sunk && client.run(CompareFile, parameters) != ActionResult::Passed))
            throw std::runtime_error("the file did not come back whole");
        seconds += (run ? ", " : "") + std::to_string(secondsSince(start));
    }
    std::printf("{\"seconds\": [%s]}\n", seconds.c_str());
}

void roundTrips(int port, long count, long warmUp) {
    TcpClient client(port);
    for (long i = 0; i < warmUp; ++i) client.roundTrip(i);
    std::vector<double> microseconds;
    microseconds.reserve(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        client.roundTrip(warmUp + i);
        microseconds.push_back(secondsSince(start) * 1e6);
    }
    std::printf("{\"median_us\": %.3f}\n", median(microseconds));
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc == 5 ? argv[1] : "";
        if (mode == "file" || mode == "sunkfile") {
            fileThereAndBack(std::atoi(argv[2]), argv[3], std::atoi(argv[4]), mode == "sunkfile");
        } else if (mode == "roundtrip") {
            roundTrips(std::atoi(argv[2]), std::atol(argv[3]), std::atol(argv[4]));
        } else {
            std::fprintf(stderr, "usage: %s file|sunkfile PORT PATH RUNS | roundtrip PORT COUNT WARMUP\n", argv[0]);
            return 2;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
