// The loop seam, measured on samples as they arrive: the two windows of at
// most 256 samples before the loop's start and before its end, and the
// loop's energy. Before the first sample the window holds silence: a loop
// from near the start must end near silence to join. Memory stays fixed
// whatever the length.
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
        : count(n), loopStart(start), width(std::min(kWidest, n - start)), beforeStart()
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

namespace {

// Decodes blockCount blocks, `piece` at a time as read(at, count, bytes)
// hands them over, into the seam; false when a read failed.
template <typename Read>
bool DecodeInto(Seam& seam, std::uint64_t blockCount, int rules, Read read)
{
    constexpr std::uint64_t kPiece = 256;
    BRRDecoder decoder;
    BRRDecoderInit(&decoder, rules);
    std::int16_t samples[kPiece * BRR_SAMPLES_PER_BLOCK];
    for (std::uint64_t b = 0; b < blockCount; b += kPiece) {
        const std::uint64_t n = std::min(kPiece, blockCount - b);
        const std::uint8_t* blocks = read(b, n);
        if (blocks == nullptr) {
            return false;
        }
        BRRDecodeBlocks(&decoder, blocks, static_cast<std::size_t>(n), samples);
        for (std::uint64_t k = 0; k < n * BRR_SAMPLES_PER_BLOCK; ++k) {
            seam.Take(b * BRR_SAMPLES_PER_BLOCK + k, samples[k]);
        }
    }
    return true;
}

}  // namespace

double LoopSeamOfBlocks(const std::uint8_t* blocks, std::uint64_t blockCount, std::int64_t loopBlock, int rules)
{
    if (loopBlock < 0 || static_cast<std::uint64_t>(loopBlock) >= blockCount) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    Seam seam(blockCount * BRR_SAMPLES_PER_BLOCK, static_cast<std::uint64_t>(loopBlock) * BRR_SAMPLES_PER_BLOCK);
    DecodeInto(seam, blockCount, rules, [&](std::uint64_t b, std::uint64_t) { return blocks + b * BRR_BLOCK_SIZE; });
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

extern "C" VORNISH_BRR_API int BRRLoopSeamOfBlocks(BRRReadFunction read, void* context, std::uint64_t offset,
                                                   std::uint64_t blockCount, std::int64_t loopBlock, int rules,
                                                   double* seam)
{
    if (read == nullptr || seam == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    if (loopBlock < 0 || static_cast<std::uint64_t>(loopBlock) >= blockCount) {
        return BRR_STATUS_BAD_LOOP_START;
    }
    if (BRRRulesName(rules) == nullptr) {
        return BRR_STATUS_BAD_OPTION;
    }
    vornish::encode::Seam s(blockCount * BRR_SAMPLES_PER_BLOCK, static_cast<std::uint64_t>(loopBlock) * BRR_SAMPLES_PER_BLOCK);
    std::uint8_t bytes[256 * BRR_BLOCK_SIZE];
    const bool ok = vornish::encode::DecodeInto(s, blockCount, rules, [&](std::uint64_t b, std::uint64_t n) {
        return read(context, offset + b * BRR_BLOCK_SIZE, bytes, static_cast<std::size_t>(n * BRR_BLOCK_SIZE)) == 0
                   ? bytes
                   : nullptr;
    });
    if (!ok) {
        return BRR_STATUS_READ_ERROR;
    }
    *seam = s.Decibels();
    return BRR_OK;
}
