// The block arithmetic, once: how one code becomes one value. The decoder's
// fast loop and the encoder's block coder both build on these.
//
//   a = (code << range) >> 1           for range 0..12 (arithmetic shifts)
//   x = a + predict(filter, last, older)
//   x = clamp(x, -32768, 32767), then wrapped into 15 bits (-16384..16383)
//
//   filter 0: 0
//   filter 1: p1 - (p1 >> 4)          library       p1 + ((-p1) >> 4)  hardware
//   filter 2: 2*p1 - p2 + ((-3*p1) >> 5) + (p2 >> 4)
//   filter 3: 2*p1 - p2 + ((-13*p1) >> 6) + ((3*p2) >> 4)
//
//   ranges 13..15: code < 8 ? +2048 : -2048     library
//                  range 12 on code >> 3        hardware (0 or -2048)
#ifndef VORNISH_BRR_ARITHMETIC_H
#define VORNISH_BRR_ARITHMETIC_H

#include <cstdint>

namespace vornish {

constexpr std::uint32_t kLargestRange = 12;  // 13..15 are the odd ones

// A signed code (-8..7) at range 0..12. Multiplying instead of shifting left
// keeps negative codes well defined.
constexpr std::int32_t Scale(std::int32_t code, std::uint32_t range)
{
    return (code * (std::int32_t{1} << range)) >> 1;
}

// A code as its 4 bits (0..15) at any range 0..15, under either rule set.
constexpr std::int32_t ScaleCode(std::uint32_t nibble, std::uint32_t range, bool hardware)
{
    if (range > kLargestRange && !hardware) {
        return nibble >= 8 ? -2048 : 2048;
    }
    std::int32_t code = nibble >= 8 ? static_cast<std::int32_t>(nibble) - 16 : static_cast<std::int32_t>(nibble);
    if (range > kLargestRange) {
        code >>= 3;
        range = kLargestRange;
    }
    return Scale(code, range);
}

constexpr std::int32_t Predict(std::uint32_t filter, std::int32_t p1, std::int32_t p2, bool hardware)
{
    switch (filter) {
    case 0: return 0;
    case 1: return hardware ? p1 + ((-p1) >> 4) : p1 - (p1 >> 4);
    case 2: return 2 * p1 - p2 + ((-3 * p1) >> 5) + (p2 >> 4);
    default: return 2 * p1 - p2 + ((-13 * p1) >> 6) + ((3 * p2) >> 4);
    }
}

// Keeps the low 15 bits, sign-extended: 32767 -> -1, 16384 -> -16384,
// -16385 -> 16383, -32768 -> 0.
constexpr std::int32_t Wrap15(std::int32_t x)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(x) << 17u) >> 17;
}

constexpr std::int32_t Clamp16(std::int32_t x) { return x < -32768 ? -32768 : x > 32767 ? 32767 : x; }

// The value a scaled code decodes to after `prediction`.
constexpr std::int32_t DecodeValue(std::int32_t scaled, std::int32_t prediction)
{
    return Wrap15(Clamp16(scaled + prediction));
}

}  // namespace vornish

#endif
