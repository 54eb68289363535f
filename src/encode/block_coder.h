// Encoding one block: the decoder's arithmetic, run forward to judge codes.
//
// A block decodes each code c (-8..7) at range r (0..12) with filter f as
//
//   x = wrap15(clamp16(((c * 2^r) >> 1) + predict(f, p1, p2)))
//
// and its sample is 2x (brr/arithmetic.h). The encoder works on the 16-bit
// targets t and judges every choice by (2x - t)^2, so clamps and wraps count
// as they will sound. Within the allowed window [lo, hi] of x the decoded
// value grows with the code, so the nearest code is a rounding; only where
// the span of the block's codes leaves the window are the 16 codes tried one
// by one.
#ifndef VORNISH_ENCODE_BLOCK_CODER_H
#define VORNISH_ENCODE_BLOCK_CODER_H

#include <cstdint>

#include "brr/arithmetic.h"

namespace vornish::encode {

constexpr int kCodesPerBlock = 16;
constexpr int kRanges = 13;  // 13..15 are never used
constexpr int kFilters = 4;

struct History {
    std::int32_t p1;
    std::int32_t p2;
};

// What a block is judged against: the rules and the window of x.
struct DecodeRules {
    bool hardware;
    std::int32_t lo;
    std::int32_t hi;
};

// A block as chosen: header byte, 16 codes (4 bits each, code 0 in the low
// bits), the history it leaves and its squared error.
struct Coded {
    std::uint8_t header;
    std::uint64_t codes;
    History end;
    std::uint64_t error;
};

inline std::int32_t Predict(int filter, std::int32_t p1, std::int32_t p2, bool hardware)
{
    return vornish::Predict(static_cast<std::uint32_t>(filter), p1, p2, hardware);
}

inline std::int32_t Scaled(std::int32_t code, int range) { return Scale(code, static_cast<std::uint32_t>(range)); }

inline std::int32_t Decoded(std::int32_t code, int range, std::int32_t prediction)
{
    return DecodeValue(Scaled(code, range), prediction);
}

inline std::uint64_t Squared(std::int32_t x, std::int32_t target)
{
    const std::int64_t e = 2 * static_cast<std::int64_t>(x) - target;
    return static_cast<std::uint64_t>(e * e);
}

// The code whose value lies nearest the target, and that value; false when
// no code keeps x inside the window.
inline bool Nearest(std::int32_t prediction, std::int32_t target, int range, const DecodeRules& rules,
                    std::int32_t& code, std::int32_t& x)
{
    const std::int32_t low = prediction + Scaled(-8, range);
    const std::int32_t high = prediction + Scaled(7, range);
    if (low >= rules.lo && high <= rules.hi) {
        const std::int32_t offset = target - 2 * prediction;  // wanted 2 * Scaled
        std::int32_t c = range == 0 ? 2 * ((offset + 1) >> 1)
                                    : (offset + (1 << (range - 1))) >> range;
        c = c < -8 ? -8 : (c > 7 ? 7 : c);
        code = c;
        x = prediction + Scaled(c, range);
        return true;
    }
    bool found = false;
    std::uint64_t best = 0;
    for (std::int32_t c = -8; c < 8; ++c) {
        const std::int32_t v = Decoded(c, range, prediction);
        const std::uint64_t e = Squared(v, target);
        if (v >= rules.lo && v <= rules.hi && (!found || e < best)) {
            found = true;
            best = e;
            code = c;
            x = v;
        }
    }
    return found;
}

// The usual per-block choice for one filter and range: each code the nearest.
// Gives up (false) when a code has no value in the window or the error passes
// bound.
bool NearestBlock(const std::int32_t* targets, History start, int filter, int range,
                  const DecodeRules& rules, std::uint64_t bound, Coded& out);

// A trellis over the block's codes for one filter and range: keeps the width
// best partial paths (merging paths that reach the same history), each
// extended by its nearest code and the `span` codes on either side of it.
// Gives the `found` (at most as many as asked in `found`) best, best first.
bool TrellisBlock(const std::int32_t* targets, History start, int filter, int range,
                  const DecodeRules& rules, int width, int span, Coded* out, int& found);

}  // namespace vornish::encode

#endif
