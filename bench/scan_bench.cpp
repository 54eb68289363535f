// The scanner against the conversion of the same bytes: a 16 MiB image of
// random bytes, and one of encoded tones (half of it) among random bytes and
// zero fill. Items are the image's bytes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "VornishAudioBRR.h"

std::vector<std::int16_t> InstrumentLike();

namespace {

constexpr std::size_t kImageSize = std::size_t{16} << 20;

std::vector<std::uint8_t> Image(bool samples)
{
    std::mt19937_64 random(99);
    std::vector<std::uint8_t> image(kImageSize);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    if (!samples) {
        return image;
    }
    const std::vector<std::int16_t> tone = InstrumentLike();
    BRREncodeOptions options;
    BRREncodeOptionsInit(&options);
    options.effort = BRR_EFFORT_FAST;
    std::size_t at = 0;
    for (std::size_t k = 0; at + 80000 < image.size(); ++k) {
        const std::size_t count = 2048 + 512 * (k % 40);  // 2048..22016 samples of the tone
        std::vector<std::uint8_t> blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(count)));
        BRREncode(tone.data() + (k * 997) % 20000, count, &options, blocks.data(), blocks.size(), nullptr);
        std::memcpy(&image[at], blocks.data(), blocks.size());
        at += blocks.size();
        if (k % 4 == 3) {  // then fill, or the bank goes on
            std::memset(&image[at], 0, 4096);
            at += 4096 + blocks.size();
        }
    }
    return image;
}

// Argument: 0 random bytes, 1 samples among them.
void BM_Scan(benchmark::State& state)
{
    const std::vector<std::uint8_t> image = Image(state.range(0) != 0);
    std::size_t finds = 0;
    for (auto _ : state) {
        finds = 0;
        BRRScan(image.data(), image.size(), nullptr, [](void* c, const BRRFound*) {
            ++*static_cast<std::size_t*>(c);
            return 0;
        }, &finds);
    }
    state.counters["finds"] = static_cast<double>(finds);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(image.size()));
}

// The same bytes converted as one sample, every block (as brrdecode does).
void BM_ConvertImage(benchmark::State& state)
{
    const std::vector<std::uint8_t> image = Image(state.range(0) != 0);
    const std::size_t size = image.size() / BRR_BLOCK_SIZE * BRR_BLOCK_SIZE;
    const auto look = [](void*, const void* bytes, std::size_t) {
        benchmark::DoNotOptimize(bytes);
        return 0;
    };
    for (auto _ : state) {
        BRRConvertMemory(image.data(), size, nullptr, look, nullptr, nullptr);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

}  // namespace

BENCHMARK(BM_Scan)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertImage)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
