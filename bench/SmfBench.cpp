// How fast Scan reads a firmware-sized file: 64 MiB of 256-byte SysEx messages, each after a
// delay, with an events list and in counting mode. Bytes/s counts the whole image.
#include "support/SmfBuilder.h"
#include "SMF/_SMF.h"

#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

constexpr std::uint32_t MessageSize = 256;
constexpr std::uint32_t Messages = 64 * 1024 * 1024 / MessageSize;

const smf::Bytes& image()
{
    static const smf::Bytes file = [] {
        testsupport::SmfBuilder builder(96);
        for (std::uint32_t i = 0; i < Messages; ++i)
            builder.sysexOfSize(1 + i % 97, MessageSize, static_cast<std::uint8_t>(i));
        return builder.file();
    }();
    return file;
}

void scan(benchmark::State& state, bool listing)
{
    const smf::Bytes& file = image();
    smf::Bytes copy(file.size());
    for (auto _ : state) {
        // Scan writes into its image, so each round reads a fresh copy, made outside the timing.
        state.PauseTiming();
        std::copy(file.begin(), file.end(), copy.begin());
        state.ResumeTiming();

        std::vector<_Event> events;
        _SMF reader(copy.data(), copy.size(), listing ? &events : nullptr);
        benchmark::DoNotOptimize(reader.Scan());
        benchmark::DoNotOptimize(events.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.counters["records"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * Messages, benchmark::Counter::kIsRate);
}

void ScanWithEvents(benchmark::State& state)
{
    scan(state, true);
}
void ScanCounting(benchmark::State& state)
{
    scan(state, false);
}

BENCHMARK(ScanWithEvents)->Unit(benchmark::kMillisecond);
BENCHMARK(ScanCounting)->Unit(benchmark::kMillisecond);

} // namespace
