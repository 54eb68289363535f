// Decode-loop, in-memory conversion, encoding and end-to-end benchmarks. Run with
//   build/default/bin/brrdecode_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "VornishAudioBRR.h"
#include "VornishAudioBRRDecoder.h"

namespace {

constexpr std::size_t kDecodeBlocks = std::size_t{8} << 20;  // 8 Mi blocks

// Random blocks, every header value equally likely; with `filter` >= 0 the
// filter bits of every header are forced to it.
std::vector<std::uint8_t> RandomBlocks(std::size_t blocks, int filter)
{
    std::mt19937_64 generator(12345);
    std::vector<std::uint8_t> bytes(blocks * BRR_BLOCK_SIZE);
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const std::uint64_t r = generator();
        for (std::size_t k = 0; k < 8 && i + k < bytes.size(); ++k) {
            bytes[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
        }
    }
    if (filter >= 0) {
        for (std::size_t b = 0; b < bytes.size(); b += BRR_BLOCK_SIZE) {
            bytes[b] = static_cast<std::uint8_t>((bytes[b] & 0xF3) | (filter << 2));
        }
    }
    return bytes;
}

void RunDecode(benchmark::State& state, int filter, int rules)
{
    const std::vector<std::uint8_t> blocks = RandomBlocks(kDecodeBlocks, filter);
    std::vector<std::int16_t> samples(kDecodeBlocks * BRR_SAMPLES_PER_BLOCK);
    for (auto _ : state) {
        BRRDecoder decoder;
        BRRDecoderInit(&decoder, rules);
        BRRDecodeBlocks(&decoder, blocks.data(), kDecodeBlocks, samples.data());
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(samples.size()));
}

// Argument: the rules, 0 the library's, 1 the hardware's.
void BM_DecodeRandomBlocks(benchmark::State& state) { RunDecode(state, -1, static_cast<int>(state.range(0))); }
void BM_DecodeFilter(benchmark::State& state)
{
    RunDecode(state, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
}

// Playback rendering of 1 MB of random blocks (about 58 s of sound at pitch
// 4096) at the pitch given: output samples per second, against the 32000 a
// second the hardware plays.
void BM_Play(benchmark::State& state)
{
    const std::vector<std::uint8_t> blocks = RandomBlocks(1000000 / BRR_BLOCK_SIZE, -1);
    BRRConvertOptions options;
    BRRConvertOptionsInit(&options);
    options.rules = BRR_RULES_HARDWARE;
    options.play = static_cast<std::uint32_t>(state.range(0));
    BRRConvertResult result{};
    const auto look = [](void*, const void* bytes, std::size_t) {
        benchmark::DoNotOptimize(bytes);
        return 0;
    };
    for (auto _ : state) {
        if (BRRConvertMemory(blocks.data(), blocks.size(), &options, look, nullptr, &result) != BRR_OK) {
            state.SkipWithError("rendering failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(result.sampleCount));
}

// The in-memory conversion of a 100 MB input: every WAV byte handed to a
// write function that only looks at each piece.
void BM_ConvertMemory(benchmark::State& state)
{
    constexpr std::size_t kBlocks = 100000000 / BRR_BLOCK_SIZE;
    const std::vector<std::uint8_t> blocks = RandomBlocks(kBlocks, -1);
    const auto look = [](void*, const void* bytes, std::size_t) {
        benchmark::DoNotOptimize(bytes);
        return 0;
    };
    for (auto _ : state) {
        if (BRRConvertMemory(blocks.data(), blocks.size(), nullptr, look, nullptr, nullptr) != BRR_OK) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBlocks * BRR_SAMPLES_PER_BLOCK));
}

// The whole conversion of a 100 MB input into a temporary file by BRRDecode.
void BM_ConvertFile(benchmark::State& state)
{
    constexpr std::size_t kBlocks = 100000000 / BRR_BLOCK_SIZE;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr ? tmp : "/tmp";
    const std::string in = dir + "/brrdecode_bench_in.brr";
    const std::string out = dir + "/brrdecode_bench_out.wav";
    {
        const std::vector<std::uint8_t> blocks = RandomBlocks(kBlocks, -1);
        std::FILE* file = std::fopen(in.c_str(), "wb");
        std::fwrite(blocks.data(), 1, blocks.size(), file);
        std::fclose(file);
    }
    const std::wstring win(in.begin(), in.end());
    const std::wstring wout(out.begin(), out.end());
    // The conversion's console lines go to /dev/null while it is timed.
    std::fflush(stdout);
    const int savedStdout = ::dup(1);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    ::close(devNull);
    for (auto _ : state) {
        if (BRRDecode(win.c_str(), wout.c_str()) != BRR_STATUS_DONE) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    std::fflush(stdout);
    ::dup2(savedStdout, 1);
    ::close(savedStdout);
    std::remove(in.c_str());
    std::remove(out.c_str());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBlocks * BRR_SAMPLES_PER_BLOCK));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBlocks * BRR_BLOCK_SIZE));
}

}  // namespace

// Two seconds at 32000 Hz of an instrument-like signal: a decaying tone with
// harmonics, vibrato and a little noise.
std::vector<std::int16_t> InstrumentLike()
{
    std::mt19937 generator(7);
    std::normal_distribution<double> noise(0.0, 60.0);
    std::vector<std::int16_t> pcm(64000);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const double t = static_cast<double>(i) / 32000.0;
        const double phase = 2 * 3.14159265358979 * (220.0 * t + 0.5 * std::sin(2 * 3.14159265358979 * 5 * t));
        const double tone = std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase) +
                            0.1 * std::sin(5 * phase);
        pcm[i] = static_cast<std::int16_t>(12000 * std::exp(-t) * tone + noise(generator));
    }
    return pcm;
}

// Encoding, per effort (0 fast, 1 default, 2 best): items are input samples.
void BM_Encode(benchmark::State& state)
{
    const std::vector<std::int16_t> pcm = InstrumentLike();
    std::vector<std::uint8_t> blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(pcm.size())));
    BRREncodeOptions options;
    BRREncodeOptionsInit(&options);
    options.effort = static_cast<std::int32_t>(state.range(0));
    BRREncodeResult result{};
    for (auto _ : state) {
        BRREncode(pcm.data(), pcm.size(), &options, blocks.data(), blocks.size(), &result);
        benchmark::DoNotOptimize(blocks.data());
    }
    state.counters["SNR_dB"] = 10 * std::log10(static_cast<double>(result.signalEnergy) /
                                               static_cast<double>(result.squaredError));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(pcm.size()));
}

BENCHMARK(BM_DecodeRandomBlocks)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFilter)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Play)->Arg(0x1000)->Arg(0x1234)->Arg(0x0800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertFile)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
