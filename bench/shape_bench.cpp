// Loop finding on ten seconds of 32 kHz audio: a bowed-string-like tone
// (harmonics, 5 Hz vibrato, slow tremolo) cut while it sounds, so that the
// whole search runs; and the same tone dying away over its last three
// seconds. Items are the input's samples.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "VornishAudioBRRShape.h"

namespace {

std::vector<double> Tone(bool dies)
{
    constexpr double kRate = 32000;
    std::vector<double> x(static_cast<std::size_t>(10 * kRate));
    double phase = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += 2 * M_PI * 220 * (1 + 0.004 * std::sin(2 * M_PI * 5 * t)) / kRate;
        double v = 0;
        for (int h = 1; h <= 8; ++h) {
            v += std::sin(h * phase) / h;
        }
        const double attack = std::fmin(1.0, t / 0.05);
        const double release = dies && t > 7 ? std::exp(-(t - 7) * 3) : 1.0;
        x[i] = 12000 * v * attack * release * (1 + 0.1 * std::sin(2 * M_PI * 0.7 * t));
    }
    return x;
}

void BM_FindLoop(benchmark::State& state)
{
    const std::vector<double> x = Tone(state.range(0) == 1);
    for (auto _ : state) {
        BRRFoundLoop loop;
        benchmark::DoNotOptimize(BRRFindLoop(x.data(), x.size(), 32000, &loop));
        state.counters["loop"] = static_cast<double>(loop.end - loop.start);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * x.size()));
}

}  // namespace

BENCHMARK(BM_FindLoop)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
