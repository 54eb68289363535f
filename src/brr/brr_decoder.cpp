// BRR block decoder.
//
// A block is 9 bytes and decodes to 16 samples:
//
//   byte 0       bits 7-4  range   shift amount, 0..15
//                bits 3-2  filter  prediction filter, 0..3
//                bits 1-0  end/loop flags: not interpreted, every block decodes alike
//   bytes 1..8   bits 7-4 of byte 1+k: code 2k      (decoded first)
//                bits 3-0 of byte 1+k: code 2k+1
//
// A code is a 4-bit two's-complement number (8..15 stand for -8..-1). Each
// code becomes one value x by the arithmetic of brr/arithmetic.h (both rule
// sets), and its sample is 2x.
//
// The history (last, older) runs on from block to block, so blocks decode
// strictly in order and the chain last -> prediction -> last is the whole cost
// of decoding. The fast loop below therefore takes the scaled code from a
// table, chooses the filter once per block, clamps only for filters 2 and 3
// (with filters 0 and 1 the sum always fits 16 bits) and keeps everything else
// off that chain.
#include <cstddef>
#include <cstdint>

#include "VornishAudioBRR.h"
#include "brr/arithmetic.h"

namespace {

using vornish::ScaleCode;
using vornish::Wrap15;

constexpr std::uint32_t HeaderRange(std::uint8_t header) { return header >> 4u; }
constexpr std::uint32_t HeaderFilter(std::uint8_t header) { return (header >> 2u) & 3u; }

struct ScaledCodeTable {
    std::int32_t value[2][16][16];  // [rules][range][code]
};

constexpr ScaledCodeTable MakeScaledCodeTable()
{
    ScaledCodeTable table{};
    for (std::uint32_t range = 0; range < 16; ++range) {
        for (std::uint32_t code = 0; code < 16; ++code) {
            table.value[BRR_RULES_LIBRARY][range][code] = ScaleCode(code, range, false);
            table.value[BRR_RULES_HARDWARE][range][code] = ScaleCode(code, range, true);
        }
    }
    return table;
}

constexpr ScaledCodeTable kScaledCodes = MakeScaledCodeTable();

// Filters 2 and 3, with the dependent part of each folded into one multiply
// and one shift:
//
//   2*p1 + ((-3*p1) >> 5)  + c  == (61*p1  + 32*c) >> 5
//   2*p1 + ((-13*p1) >> 6) + c  == (115*p1 + 64*c) >> 6
//
// (an arithmetic shift by k takes a multiple of 2^k added before it out
// exactly), where c = scaled - p2 + (p2 >> 4), or + ((3*p2) >> 4) for filter 3,
// depends only on the sample before the last and is ready early. The wrap to
// 15 bits is the same shift done as "<< (17 - k), then >> 17". The clamp is
// rare and is left to a predicted branch, off the chain: outside the 16-bit
// range the clamp leaves 32767 (wraps to -1) or -32768 (wraps to 0).
template <int kShift>
inline std::int32_t ShiftClampWrap15(std::int32_t y)
{
    constexpr std::uint32_t kLow = 32768u << kShift;
    if (static_cast<std::uint32_t>(y) + kLow < 2 * kLow) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(y) << (17 - kShift)) >> 17;
    }
    return y < 0 ? 0 : -1;
}

// kFilter 4 is filter 1 under the hardware's rules, p1 + ((-p1) >> 4), run on
// the negated history n1 = -p1 (see DecodeCodes): there it is the library's
// n1 - (n1 >> 4), as short a chain, and -x = -scaled + n1 - (n1 >> 4)
// exactly. Negating the 15-bit wrap misses one value: -(-16384) is 16384,
// which the wrap turns back into -16384; the rare branch puts it right.
template <int kFilter>
inline void DecodeCode(std::int32_t scaled, std::int32_t& p1, std::int32_t& p2,
                       std::int16_t& out)
{
    std::int32_t x;
    if constexpr (kFilter == 0) {
        x = scaled;  // -16384..14336: never leaves 15 bits
    } else if constexpr (kFilter == 1) {
        x = Wrap15(scaled + p1 - (p1 >> 4));  // always within 16 bits: no clamp
    } else if constexpr (kFilter == 4) {
        x = Wrap15(p1 - (p1 >> 4) - scaled);  // p1 holds -p1 here
        if (x == -16384) {
            x = 16384;
        }
        p2 = p1;
        p1 = x;
        out = static_cast<std::int16_t>(x * -2);
        return;
    } else if constexpr (kFilter == 2) {
        x = ShiftClampWrap15<5>(61 * p1 + 32 * (scaled - p2 + (p2 >> 4)));
    } else {
        x = ShiftClampWrap15<6>(115 * p1 + 64 * (scaled - p2 + ((3 * p2) >> 4)));
    }
    p2 = p1;
    p1 = x;
    out = static_cast<std::int16_t>(x * 2);
}

template <int kFilter>
inline void DecodeCodes(const std::int32_t* scaled, const std::uint8_t* data, std::int32_t& p1,
                        std::int32_t& p2, std::int16_t* out)
{
    std::int32_t h1 = kFilter == 4 ? -p1 : p1;  // the history as DecodeCode keeps it
    std::int32_t h2 = kFilter == 4 ? -p2 : p2;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 8
#endif
    for (std::size_t k = 0; k < 8; ++k) {
        const std::uint8_t b = data[k];
        DecodeCode<kFilter>(scaled[b >> 4u], h1, h2, out[2 * k]);
        DecodeCode<kFilter>(scaled[b & 15u], h1, h2, out[2 * k + 1]);
    }
    p1 = kFilter == 4 ? -h1 : h1;
    p2 = kFilter == 4 ? -h2 : h2;
}

template <bool kHardware>
inline void DecodeOneBlock(const std::uint8_t* block, std::int32_t& p1, std::int32_t& p2,
                           std::int16_t* out)
{
    const std::uint8_t header = block[0];
    const std::int32_t* scaled = kScaledCodes.value[kHardware ? 1 : 0][HeaderRange(header)];
    const std::uint8_t* data = block + 1;
    switch (HeaderFilter(header)) {
    case 0: DecodeCodes<0>(scaled, data, p1, p2, out); break;
    case 1: DecodeCodes<kHardware ? 4 : 1>(scaled, data, p1, p2, out); break;
    case 2: DecodeCodes<2>(scaled, data, p1, p2, out); break;
    default: DecodeCodes<3>(scaled, data, p1, p2, out); break;
    }
}

}  // namespace

void BRRDecoderInit(BRRDecoder* decoder, int rules)
{
    if (decoder == nullptr) {
        return;
    }
    decoder->last = 0;
    decoder->older = 0;
    decoder->rules = rules == BRR_RULES_HARDWARE ? BRR_RULES_HARDWARE : BRR_RULES_LIBRARY;
}

// The filter-1 path skips the clamp because both history values lie in
// -16384..16383. Decoding always leaves them there; a history the caller set
// outside is wrapped into that domain first, as a decoded value would be.
void BRRDecodeBlocks(BRRDecoder* decoder, const std::uint8_t* blocks, std::size_t blockCount,
                     std::int16_t* samples)
{
    std::int32_t p1 = Wrap15(decoder->last);
    std::int32_t p2 = Wrap15(decoder->older);
    if (decoder->rules == BRR_RULES_HARDWARE) {
        for (std::size_t i = 0; i < blockCount; ++i) {
            DecodeOneBlock<true>(blocks + i * BRR_BLOCK_SIZE, p1, p2, samples + i * BRR_SAMPLES_PER_BLOCK);
        }
    } else {
        for (std::size_t i = 0; i < blockCount; ++i) {
            DecodeOneBlock<false>(blocks + i * BRR_BLOCK_SIZE, p1, p2, samples + i * BRR_SAMPLES_PER_BLOCK);
        }
    }
    decoder->last = static_cast<std::int16_t>(p1);
    decoder->older = static_cast<std::int16_t>(p2);
}
