// The block features behind the scanner's evidence, and its tables.
#include "scan/evidence.h"

#include <algorithm>
#include <cmath>

#include "brr/arithmetic.h"

namespace vornish {
namespace scan {

namespace {

int Log2(std::uint64_t x)
{
    int n = -1;
    while (x != 0) {
        x >>= 1;
        ++n;
    }
    return n;
}

}  // namespace

Decoded DecodeForEvidence(const std::uint8_t* block, std::int32_t& last, std::int32_t& older)
{
    const std::uint32_t range = block[0] >> 4u;
    const std::uint32_t filter = (block[0] >> 2u) & 3u;
    Decoded d{0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t nibble = (i & 1) == 0 ? block[1 + i / 2] >> 4u : block[1 + i / 2] & 15u;
        const std::int32_t code = nibble >= 8 ? static_cast<std::int32_t>(nibble) - 16 : static_cast<std::int32_t>(nibble);
        const std::int32_t sum = ScaleCode(nibble, range, true) + Predict(filter, last, older, true);
        const std::int32_t clamped = Clamp16(sum);
        const std::int32_t value = Wrap15(clamped);
        d.faults += (clamped != sum || value != clamped) ? 1 : 0;
        const int size = code < 0 ? -code : code;
        d.peak = size > d.peak ? size : d.peak;
        d.bias += code;
        const std::int64_t step = static_cast<std::int64_t>(value) - last;
        d.energy += static_cast<std::uint64_t>(static_cast<std::int64_t>(value) * value);
        d.change += static_cast<std::uint64_t>(step * step);
        d.loudest = std::max(d.loudest, value < 0 ? -value : value);
        older = last;
        last = value;
    }
    return d;
}

int EnergyOctaves(std::uint64_t energy) { return Log2(energy + 1); }

void DecodedBins(const Decoded& d, int octavesBefore, bool first, Bins& b)
{
    b.fault = d.faults == 0 ? 0 : d.faults < 4 ? 1 : 2;
    b.peak = d.peak;
    const int bias = d.bias < 0 ? -d.bias : d.bias;
    b.bias = bias < 4 ? 0 : bias < 8 ? 1 : bias < 16 ? 2 : bias < 32 ? 3 : 4;
    const std::uint64_t share = d.change * 32 / (d.energy + 16);
    const int high = share == 0 ? 0 : 1 + Log2(share);
    b.high = high < kHighBins - 1 ? high : kHighBins - 1;
    if (first) {
        b.jump = -1;
        return;
    }
    const int octaves = EnergyOctaves(d.energy);
    const int jump = octaves > octavesBefore ? octaves - octavesBefore : octavesBefore - octaves;
    static const int kJump[10] = {0, 1, 2, 3, 3, 4, 4, 4, 4, 5};
    b.jump = jump < 9 ? kJump[jump] : 5;
}

double ScoreOf(double evidence) { return 1.0 / (1.0 + std::exp(static_cast<double>(kTables.offset) - evidence)); }

}  // namespace scan
}  // namespace vornish
