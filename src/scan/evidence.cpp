// The block features behind the scanner's evidence, and its tables.
#include "scan/evidence.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Of each code byte: the larger |code| of its two nibbles, and their sum.
struct ByteTable {
    std::int8_t peak[256];
    std::int8_t bias[256];
};

constexpr int CodeOf(std::uint32_t nibble) { return nibble >= 8 ? static_cast<int>(nibble) - 16 : static_cast<int>(nibble); }

constexpr ByteTable MakeByteTable()
{
    ByteTable t{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        const int high = CodeOf(byte >> 4u);
        const int low = CodeOf(byte & 15u);
        const int a = high < 0 ? -high : high;
        const int b = low < 0 ? -low : low;
        t.peak[byte] = static_cast<std::int8_t>(a > b ? a : b);
        t.bias[byte] = static_cast<std::int8_t>(high + low);
    }
    return t;
}

constexpr ByteTable kBytes = MakeByteTable();

// Filter 0 predicts nothing: the values are the scaled codes (never past
// -16384..16383), and their features are sums without a chain to wait for,
// four lanes at a time (a lane's four squares fit 32 bits).
void FeaturesOfValues(const std::int32_t* values, std::int32_t last, Decoded& d)
{
    std::int32_t before[16];
    before[0] = last;
    std::memcpy(before + 1, values, 15 * sizeof *values);
#if defined(__GNUC__) || defined(__clang__)
    typedef std::int32_t Lanes __attribute__((vector_size(16)));
    typedef std::uint32_t Sums __attribute__((vector_size(16)));
    Sums energy = {0, 0, 0, 0};
    Sums change = {0, 0, 0, 0};
    const Lanes zero = {0, 0, 0, 0};
    Lanes loudest = zero;
    for (int k = 0; k < 16; k += 4) {
        Lanes value;
        Lanes previous;
        std::memcpy(&value, values + k, sizeof value);
        std::memcpy(&previous, before + k, sizeof previous);
        const Sums v = reinterpret_cast<Sums&>(value);
        const Lanes stepSigned = value - previous;
        const Sums step = reinterpret_cast<const Sums&>(stepSigned);
        energy += v * v;
        change += step * step;
        const Lanes negative = value < zero;
        const Lanes size = (-value & negative) | (value & ~negative);
        const Lanes larger = size > loudest;
        loudest = (size & larger) | (loudest & ~larger);
    }
    d.energy = std::uint64_t{energy[0]} + energy[1] + energy[2] + energy[3];
    d.change = std::uint64_t{change[0]} + change[1] + change[2] + change[3];
    d.loudest = std::max(std::max(loudest[0], loudest[1]), std::max(loudest[2], loudest[3]));
#else
    std::uint64_t energy = 0;
    std::uint64_t change = 0;
    std::int32_t loudest = 0;
    for (int i = 0; i < 16; ++i) {
        const std::int64_t step = values[i] - before[i];
        energy += static_cast<std::uint64_t>(std::int64_t{values[i]} * values[i]);
        change += static_cast<std::uint64_t>(step * step);
        loudest = std::max(loudest, values[i] < 0 ? -values[i] : values[i]);
    }
    d.energy = energy;
    d.change = change;
    d.loudest = loudest;
#endif
    d.faults = 0;
}

// The sixteen values of one block, its filter fixed, and their features,
// in one pass (the features' sums overlap the chain of predictions).
template <std::uint32_t Filter>
void DecodeValues(const std::int32_t* scaled, Decoded& d, std::int32_t& last, std::int32_t& older)
{
    if constexpr (Filter == 0) {
        FeaturesOfValues(scaled, last, d);
        older = scaled[14];
        last = scaled[15];
        return;
    }
    // The values first (each needs the two before), then their features.
    std::int32_t values[16];
    std::int32_t p1 = last;
    std::int32_t p2 = older;
    int faults = 0;
    for (int i = 0; i < 16; ++i) {
        std::int32_t value = scaled[i] + Predict(Filter, p1, p2, true);
        if (value < -16384 || value > 16383) {  // rare in audio: kept off the fast path
            value = Wrap15(Clamp16(value));
            ++faults;
        }
        values[i] = value;
        p2 = p1;
        p1 = value;
    }
    FeaturesOfValues(values, last, d);
    d.faults = faults;
    last = p1;
    older = p2;
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
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint32_t byte = block[1 + i];
        d.peak = std::max(d.peak, static_cast<int>(kBytes.peak[byte]));
        d.bias += kBytes.bias[byte];
        scaled[2 * i] = scale[byte >> 4u];
        scaled[2 * i + 1] = scale[byte & 15u];
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
