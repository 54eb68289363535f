// What shaping makes of a signal's length: the ratio of rates, the loop
// fitted to whole blocks (resampled, repeated, or k periods resampled as
// one), and the silence in front that puts the loop on a block.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "shape/shape.h"

namespace vornish::shape {
namespace {

constexpr double kHighestRate = 1e7;

// BRR_LOOP_FIT_AUTO: how many periods of the loop (1..16) to resample to
// whole blocks, the rate at `ratio` changing least; of equals, the fewest.
// A repeat may at most double the sample, or add 2048 samples, which a short
// loop's repeats cost at most.
std::int64_t Periods(std::int64_t start, std::int64_t length, double ratio)
{
    constexpr std::int64_t kMostPeriods = 16;
    constexpr double kFewSamples = 2048;
    const auto blocks = [&](std::int64_t k) {
        return std::max(1.0, std::round(static_cast<double>(length * k) * ratio / 16.0));
    };
    const double once = static_cast<double>(start) * ratio + 16.0 * blocks(1);
    std::int64_t best = 1;
    double bestChange = std::fabs(16.0 * blocks(1) / (static_cast<double>(length) * ratio) - 1.0);
    for (std::int64_t k = 2; k <= kMostPeriods; ++k) {
        const double added = 16.0 * (blocks(k) - blocks(1));
        const double change = std::fabs(16.0 * blocks(k) / (static_cast<double>(length * k) * ratio) - 1.0);
        if ((added <= once || added <= kFewSamples) && change < bestChange - 1e-12) {
            best = k;
            bestChange = change;
        }
    }
    return best;
}

bool RateOk(double rate, bool zeroAllowed)
{
    return (zeroAllowed && rate == 0) || (rate >= 1 && rate <= kHighestRate);
}

// The resampler's time grows without bound at ratios of a few hundred
// thousand; the loop fit changes the ratio at most twofold, or to 16.
bool RatioOk(const BRRShapeOptions& o)
{
    return o.rate == 0 || (o.rate <= o.inputRate * BRR_SHAPE_MAX_RATIO && o.inputRate <= o.rate * BRR_SHAPE_MAX_RATIO);
}

}  // namespace

int Check(std::size_t count, const BRRShapeOptions& o)
{
    if (!RateOk(o.inputRate, false) || !RateOk(o.rate, true) || !RatioOk(o) || o.loopFit < BRR_LOOP_FIT_AUTO ||
        o.loopFit > BRR_LOOP_FIT_REPEAT || (o.trebleBoost != 0 && o.trebleBoost != 1) ||
        (o.loopHeader != 0 && o.loopHeader != 1) ||
        std::any_of(std::begin(o.reserved), std::end(o.reserved), [](int r) { return r != 0; })) {
        return BRR_STATUS_BAD_OPTION;
    }
    if (count == 0) {
        return BRR_STATUS_NO_BLOCKS;
    }
    const bool none = o.loopStart == -1 && o.loopEnd == -1;
    if (!none && (o.loopStart < 0 || o.loopEnd <= o.loopStart || static_cast<std::uint64_t>(o.loopEnd) > count)) {
        return BRR_STATUS_BAD_LOOP_START;
    }
    // Sizes stay far inside 64 bits, and samples inside size_t.
    const double total = static_cast<double>(count) * (o.rate != 0 ? o.rate / o.inputRate : 1.0) * 17.0 + 4096;
    return total < static_cast<double>(SIZE_MAX) / 16 && total < 1e15 ? BRR_OK : BRR_STATUS_TOO_LARGE;
}

Plan PlanOf(std::size_t count, const BRRShapeOptions& o)
{
    Plan p;
    p.ratio = o.rate != 0 ? o.rate / o.inputRate : 1.0;
    p.looped = o.loopStart >= 0;
    const std::int64_t length = p.looped ? o.loopEnd - o.loopStart : 0;
    if (p.looped && o.loopFit != BRR_LOOP_FIT_REPEAT) {
        p.repeats = o.loopFit == BRR_LOOP_FIT_AUTO ? Periods(o.loopStart, length, p.ratio) : 1;
        const double blocks = std::max(1.0, std::round(static_cast<double>(length * p.repeats) * p.ratio / 16.0));
        p.ratio = 16.0 * blocks / static_cast<double>(length * p.repeats);
    }
    p.start = p.looped ? static_cast<std::int64_t>(std::llround(static_cast<double>(o.loopStart) * p.ratio)) : -1;
    p.loop = p.looped ? std::max<std::int64_t>(1, std::llround(static_cast<double>(length * p.repeats) * p.ratio)) : 0;
    p.total = p.looped ? static_cast<std::size_t>(p.start + p.loop)
                       : static_cast<std::size_t>(std::llround(static_cast<double>(count) * p.ratio));
    p.times = p.looped && o.loopFit == BRR_LOOP_FIT_REPEAT ? 16 / std::gcd(p.loop, std::int64_t{16}) : 1;
    p.pad = p.looped ? (16 - p.start % 16) % 16 : 0;
    return p;
}

BRRShapePlan Public(const Plan& p, const BRRShapeOptions& o)
{
    BRRShapePlan out{};
    out.rate = o.inputRate * p.ratio;
    out.sampleCount = static_cast<std::uint64_t>(p.pad) + p.total + static_cast<std::uint64_t>((p.times - 1) * p.loop);
    out.loopStart = p.looped ? p.start + p.pad : BRR_NO_LOOP_START;
    out.loopLength = p.looped ? p.loop * p.times : 0;
    out.repeats = p.looped ? p.repeats * p.times : 0;
    const std::uint64_t headerOffset = p.looped ? static_cast<std::uint64_t>(out.loopStart) / 16 * BRR_BLOCK_SIZE : 0;
    out.loopHeader = p.looped && o.loopHeader != 0 && headerOffset <= 0xFFFF ? 1 : 0;
    out.encodedBytes = (out.sampleCount + 15) / 16 * BRR_BLOCK_SIZE + (out.loopHeader != 0 ? BRR_LOOP_HEADER_SIZE : 0);
    return out;
}

double RateForBytes(std::size_t count, const BRRShapeOptions& o, std::uint64_t maxBytes)
{
    const auto bytesAt = [&](double rate) {
        BRRShapeOptions at = o;
        at.rate = rate;
        return Public(PlanOf(count, at), at).encodedBytes;
    };
    double high = o.rate != 0 ? std::floor(o.rate) : std::floor(o.inputRate);
    if (high < BRR_LOWEST_FIT_RATE || bytesAt(BRR_LOWEST_FIT_RATE) > maxBytes) {
        return -1;
    }
    const double top = high;
    double low = BRR_LOWEST_FIT_RATE;  // fits; the answer lies in [low, high]
    while (low < high) {
        const double mid = low + std::floor((high - low + 1) / 2);
        if (bytesAt(mid) <= maxBytes) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    // The input's own rate, when it fits, is kept exactly (no resampling).
    return o.rate == 0 && low == top && bytesAt(0) <= maxBytes ? 0 : low;
}

}  // namespace vornish::shape
