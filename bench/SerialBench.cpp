// The serial tester's hot paths, measured in process through ITester3 as a
// host drives them: waiting for a text after a flood of noise, reading
// numbers with scanf, sending through the formatter, the frame around an
// action, the receive queue's memory and a file there and back over
// loop-back. Throughput is reported as bytes per second.
#include "bench/BenchData.h"
#include "bench/BenchTester.h"
#include "platform/large_block.h"

#include <benchmark/benchmark.h>
#include <malloc.h> // mallinfo2: the bench is built on Linux only

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace bench;

void expectPassed(benchmark::State& state, ActionResult result) {
    if (result != ActionResult::Passed) state.SkipWithError("the action did not pass");
}

// "waitfor" of a text that arrives after 64 MiB of queued noise; the
// argument is how many texts the expression names.
void waitforAfterNoise(benchmark::State& state) {
    std::string expression;
    for (int i = 1; i < state.range(0); ++i) expression.append("'").append(bench::otherTexts[i - 1]).append("' or ");
    expression.append(state.range(0) == 1 ? bench::waitedText : std::string("'") + bench::waitedText + "'");
    const ParameterArray parameters{Value(actionTimeoutSeconds), Value(expression)};
    OpenTester serial("scripted");
    for (auto _ : state) {
        state.PauseTiming();
        serial.receive(bench::noiseThenText());
        state.ResumeTiming();
        expectPassed(state, serial.run(Waitfor, parameters));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bench::noiseThenText().size()));
}
BENCHMARK(waitforAfterNoise)->Name("waitfor/texts")->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(1);

// 800,000 "scanf" actions of one "%d" each over the queued numbers.
void scanfIntegers(benchmark::State& state) {
    const ParameterArray parameters{Value(actionTimeoutSeconds), Value("%d")};
    OpenTester serial("scripted");
    for (auto _ : state) {
        state.PauseTiming();
        serial.receive(bench::numbersText());
        state.ResumeTiming();
        for (std::size_t i = 0; i < bench::numberCount; ++i) {
            if (serial.run(Scanf, parameters) != ActionResult::Passed) {
                state.SkipWithError("a scanf did not pass");
                break;
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bench::numbersText().size()));
}
BENCHMARK(scanfIntegers)->Name("scanf/integers")->Unit(benchmark::kMillisecond)->Iterations(1);

// 64 KiB of plain text, as a send's format parameter.
std::string plainText64KiB() {
    std::string text;
    while (text.size() < 65536) text += "The quick brown fox jumps over the lazy dog 0123456789. ";
    text.resize(65536);
    return text;
}

// The formatter alone: the format parameter to the bytes that go out.
void formatText(benchmark::State& state) {
    const Value format(plainText64KiB());
    for (auto _ : state) benchmark::DoNotOptimize(Tester::formatParameters(1, &format.get()));
    state.SetBytesProcessed(state.iterations() * 65536);
}
BENCHMARK(formatText)->Name("send/formatter");

// The whole "send" action over loop-back, the echo sunk on arrival.
void sendAction(benchmark::State& state) {
    const ParameterArray parameters{Value(plainText64KiB())};
    OpenTester serial("loopback");
    serial.run(SinkData, ParameterArray{Value::boolean(true)});
    for (auto _ : state) expectPassed(state, serial.run(Send, parameters));
    state.SetBytesProcessed(state.iterations() * 65536);
}
BENCHMARK(sendAction)->Name("send/action");

// The anchor of the send cases: copying the same 64 KiB.
void copyText(benchmark::State& state) {
    const std::string text = plainText64KiB();
    std::vector<char> target(text.size());
    for (auto _ : state) {
        std::memcpy(target.data(), text.data(), text.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * 65536);
}
BENCHMARK(copyText)->Name("send/memcpy");

// The frame around an action: "logdata true" with a host that drops its
// log lines, and with no host at all.
void logdataAction(benchmark::State& state) {
    const ParameterArray parameters{Value::boolean(true)};
    OpenTester serial("scripted", state.range(0) != 0);
    for (auto _ : state) expectPassed(state, serial.run(LogData, parameters));
}
BENCHMARK(logdataAction)->Name("ExecuteAction/logdata/host")->Arg(1)->Arg(0);

// The anchor of the frame: the cheapest call of the same interface.
void actionCount(benchmark::State& state) {
    OpenTester serial("scripted");
    ULONG count = 0;
    for (auto _ : state) {
        serial.tester().GetActionCount(&count);
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(actionCount)->Name("ExecuteAction/GetActionCount");

// Bytes the heap has handed out and not taken back, its own overhead
// included, and the large blocks mapped beside it.
std::size_t heapInUse() { return mallinfo2().uordblks + platform::largeBlockBytesInUse(); }

// Queues 4 MiB (1 MiB of 1-byte chunks) in chunks of the argument's size;
// the counter is the heap held per byte queued.
void receiveQueueMemory(benchmark::State& state) {
    const auto chunkBytes = static_cast<std::size_t>(state.range(0));
    const std::size_t total = chunkBytes == 1 ? std::size_t{1} << 20 : std::size_t{4} << 20;
    const std::string_view bytes(bench::noiseThenText().data(), total);
    double heldPerByte = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto serial = std::make_unique<OpenTester>("scripted");
        const std::size_t before = heapInUse();
        state.ResumeTiming();
        serial->receive(bytes, chunkBytes);
        state.PauseTiming();
        heldPerByte = static_cast<double>(heapInUse() - before) / static_cast<double>(total);
        serial.reset();
        state.ResumeTiming();
    }
    state.counters["held_per_byte"] = heldPerByte;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
BENCHMARK(receiveQueueMemory)->Name("queue/chunk")->Arg(65536)->Arg(80)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// "sendFile" then "compareFile" of a 64 MiB file over loop-back: the
// whole file is queued as it comes back, then compared.
void fileOverLoopBack(benchmark::State& state) {
    const std::string path = (std::filesystem::temp_directory_path() / "varnel-bench-file.txt").string();
    {
        std::ofstream file(path, std::ios::binary);
        file.write(bench::noiseThenText().data(), static_cast<std::streamsize>(bench::noiseBytes));
    }
    const ParameterArray parameters{Value(actionTimeoutSeconds), Value(path)};
    OpenTester serial("loopback");
    for (auto _ : state) {
        expectPassed(state, serial.run(SendFile, parameters));
        expectPassed(state, serial.run(CompareFile, parameters));
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bench::noiseBytes));
}
BENCHMARK(fileOverLoopBack)->Name("file/loopback")->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

// VARNEL_BENCH_DATA names a folder that receives the inputs, so that the
// outside anchors read the very bytes measured here.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (const char* folder = std::getenv("VARNEL_BENCH_DATA")) bench::writeDataFiles(folder);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
