// The block features behind the scanner's evidence, and its tables.
#include "scan/evidence.h"

#include <algorithm>
#include <cmath>

#include "brr/arithmetic.h"

namespace vornish {
namespace scan {

namespace {

// floor(log2(x)) for x > 0.
int Log2(std::uint64_t x)
{
#if defined(__GNUC__) || defined(__clang__)
    return 63 - __builtin_clzll(x);
#else
    int n = -1;
    while (x != 0) {
        x >>= 1;
        ++n;
    }
    return n;
#endif
}

}  // namespace

namespace {

// Every code at every range, as the hardware scales it.
struct ScaleTable {
    std::int32_t value[16][16];
};

constexpr ScaleTable MakeScaleTable()
{
    ScaleTable t{};
    for (std::uint32_t range = 0; range < 16; ++range) {
        for (std::uint32_t nibble = 0; nibble < 16; ++nibble) {
            t.value[range][nibble] = ScaleCode(nibble, range, true);
        }
    }
    return t;
}

constexpr ScaleTable kScale = MakeScaleTable();

// The sixteen values of one block, its filter fixed, and their features.
template <std::uint32_t Filter>
void DecodeValues(const std::int32_t* scaled, Decoded& d, std::int32_t& last, std::int32_t& older)
{
    // The values first (each needs the two before), then their features.
    std::int32_t values[18];
    values[0] = older;
    values[1] = last;
    int faults = 0;
    for (int i = 0; i < 16; ++i) {
        std::int32_t value = scaled[i] + Predict(Filter, values[i + 1], values[i], true);
        if (value < -16384 || value > 16383) {  // rare in audio: kept off the fast path
            value = Wrap15(Clamp16(value));
            ++faults;
        }
        values[i + 2] = value;
    }
    std::int64_t energy = 0;
    std::int64_t change = 0;
    std::int32_t loudest = 0;
    for (int i = 2; i < 18; ++i) {
        const std::int64_t step = values[i] - values[i - 1];
        energy += static_cast<std::int64_t>(values[i]) * values[i];
        change += step * step;
        loudest = std::max(loudest, values[i] < 0 ? -values[i] : values[i]);
    }
    d.faults = faults;
    d.loudest = loudest;
    d.energy = static_cast<std::uint64_t>(energy);
    d.change = static_cast<std::uint64_t>(change);
    last = values[17];
    older = values[16];
}

}  // namespace

Decoded DecodeForEvidence(const std::uint8_t* block, std::int32_t& last, std::int32_t& older)
{
    Decoded d{0, 0, 0, 0, 0, 0};
    if (IsSilent(block)) {  // zeros whatever the history
        last = 0;
        older = 0;
        return d;
    }
    const std::int32_t* scale = kScale.value[block[0] >> 4u];
    std::int32_t scaled[16];
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t byte = block[1 + i];
        for (int half = 0; half < 2; ++half) {
            const std::uint32_t nibble = half == 0 ? byte >> 4u : byte & 15u;
            const int code = nibble >= 8 ? static_cast<int>(nibble) - 16 : static_cast<int>(nibble);
            d.peak = std::max(d.peak, code < 0 ? -code : code);
            d.bias += code;
            scaled[2 * i + half] = scale[nibble];
        }
    }
    switch ((block[0] >> 2u) & 3u) {
    case 0: DecodeValues<0>(scaled, d, last, older); break;
    case 1: DecodeValues<1>(scaled, d, last, older); break;
    case 2: DecodeValues<2>(scaled, d, last, older); break;
    default: DecodeValues<3>(scaled, d, last, older); break;
    }
    return d;
}

int EnergyOctaves(std::uint64_t energy) { return Log2(energy + 1); }

int JumpBin(int octaves, int octavesBefore)
{
    static const int kJump[10] = {0, 1, 2, 3, 3, 4, 4, 4, 4, 5};
    const int jump = octaves > octavesBefore ? octaves - octavesBefore : octavesBefore - octaves;
    return jump < 9 ? kJump[jump] : 5;
}

void DecodedBins(const Decoded& d, int octavesBefore, bool first, Bins& b)
{
    b.fault = d.faults == 0 ? 0 : d.faults < 4 ? 1 : 2;
    b.peak = d.peak;
    const int bias = d.bias < 0 ? -d.bias : d.bias;
    b.bias = bias < 4 ? 0 : bias < 8 ? 1 : bias < 16 ? 2 : bias < 32 ? 3 : 4;
    const std::uint64_t share = d.change * 32 / (d.energy + 16);
    const int high = share == 0 ? 0 : 1 + Log2(share);
    b.high = high < kHighBins - 1 ? high : kHighBins - 1;
    b.jump = first ? -1 : JumpBin(EnergyOctaves(d.energy), octavesBefore);
}

Scored ScoreDecoded(const Decoded& d)
{
    Bins b;
    DecodedBins(d, 0, true, b);
    return Scored{kTables.peak[b.peak] + kTables.bias[b.bias], kTables.fault[b.fault] + kTables.high[b.high],
                  EnergyOctaves(d.energy)};
}

double ScoreOf(double evidence) { return 1.0 / (1.0 + std::exp(static_cast<double>(kTables.offset) - evidence)); }

}  // namespace scan
}  // namespace vornish
