// The scanner against the conversion of the same bytes: a 16 MiB image of
// random bytes, one of encoded tones (half of it) among random bytes and
// zero fill, and (argument 2) the file VORNISH_SCAN_IMAGE names, such as the
// mixed images tests/python/scan_images.py writes. Items are the image's bytes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "VornishAudioBRR.h"

std::vector<std::int16_t> InstrumentLike();

namespace {

constexpr std::size_t kImageSize = std::size_t{16} << 20;

std::vector<std::uint8_t> Image(std::int64_t kind)
{
    if (kind == 2) {
        const char* path = std::getenv("VORNISH_SCAN_IMAGE");
        std::ifstream file(path != nullptr ? path : "", std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
    }
    const bool samples = kind == 1;
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

// Argument: 0 random bytes, 1 samples among them, 2 VORNISH_SCAN_IMAGE.
void BM_Scan(benchmark::State& state)
{
    const std::vector<std::uint8_t> image = Image(state.range(0));
    if (image.empty()) {
        state.SkipWithError("set VORNISH_SCAN_IMAGE to an image file");
        return;
    }
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
    const std::vector<std::uint8_t> image = Image(state.range(0));
    if (image.empty()) {
        state.SkipWithError("set VORNISH_SCAN_IMAGE to an image file");
        return;
    }
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

BENCHMARK(BM_Scan)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();  // it runs on several threads
BENCHMARK(BM_ConvertImage)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
