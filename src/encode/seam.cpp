// The loop seam, measured on samples as they arrive: the two windows of at
// most 256 samples before the loop's start and before its end, and the
// loop's energy. Memory stays fixed whatever the length.
#include "encode/seam.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "VornishAudioBRR.h"

namespace vornish::encode {
namespace {

constexpr std::uint64_t kWidest = 256;

struct Seam {
    std::uint64_t count;
    std::uint64_t loopStart;
    std::uint64_t width;
    std::int32_t beforeStart[kWidest];
    double difference = 0;
    double loopEnergy = 0;

    Seam(std::uint64_t n, std::uint64_t start)
        : count(n), loopStart(start), width(std::min({kWidest, n - start, start})), beforeStart()
    {
    }

    void Take(std::uint64_t i, std::int32_t x)
    {
        if (i + width >= loopStart && i < loopStart) {
            beforeStart[i + width - loopStart] = x;
        }
        if (i + width >= count) {
            const double d = x - beforeStart[i + width - count];
            difference += d * d;
        }
        if (i >= loopStart) {
            loopEnergy += static_cast<double>(x) * x;
        }
    }

    double Decibels() const
    {
        if (difference == 0) {
            return -std::numeric_limits<double>::infinity();
        }
        const double loopMean = loopEnergy / static_cast<double>(count - loopStart);
        return 10.0 * std::log10(difference / static_cast<double>(width) / loopMean);
    }
};

}  // namespace

double LoopSeamOfBlocks(const std::uint8_t* blocks, std::uint64_t blockCount, std::int64_t loopBlock, int rules)
{
    if (loopBlock < 0 || static_cast<std::uint64_t>(loopBlock) >= blockCount) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    Seam seam(blockCount * BRR_SAMPLES_PER_BLOCK, static_cast<std::uint64_t>(loopBlock) * BRR_SAMPLES_PER_BLOCK);
    BRRDecoder decoder;
    BRRDecoderInit(&decoder, rules);
    std::int16_t samples[BRR_SAMPLES_PER_BLOCK];
    for (std::uint64_t b = 0; b < blockCount; ++b) {
        BRRDecodeBlocks(&decoder, blocks + b * BRR_BLOCK_SIZE, 1, samples);
        for (std::uint64_t k = 0; k < BRR_SAMPLES_PER_BLOCK; ++k) {
            seam.Take(b * BRR_SAMPLES_PER_BLOCK + k, samples[k]);
        }
    }
    return seam.Decibels();
}

}  // namespace vornish::encode

extern "C" VORNISH_BRR_API double BRRLoopSeam(const std::int16_t* pcm, std::size_t count, std::size_t loopStart)
{
    if (pcm == nullptr || loopStart >= count) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    vornish::encode::Seam seam(count, loopStart);
    for (std::size_t i = 0; i < count; ++i) {
        seam.Take(i, pcm[i]);
    }
    return seam.Decibels();
}
