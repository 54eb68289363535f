// BRR block decoder: blocks in memory in, 16-bit samples out. No I/O.
#ifndef VORNISH_BRR_DECODER_H
#define VORNISH_BRR_DECODER_H

#include <cstddef>
#include <cstdint>

namespace vornish {

// Size of one BRR block in bytes, and the samples it decodes to.
constexpr std::size_t kBRRBlockSize = 9;
constexpr std::size_t kBRRSamplesPerBlock = 16;

// Bits of a block's header byte that the decoder does not look at: the end
// of the sample, and whether playback then jumps back to the loop start.
constexpr std::uint8_t kBRREndFlag = 0x01;
constexpr std::uint8_t kBRRLoopFlag = 0x02;

// The decoder's memory: the two most recent values, in the 15-bit domain.
// Every conversion owns one, so conversions on different threads never share
// it.
struct BRRHistory {
    std::int16_t last;   // value of the most recently decoded code
    std::int16_t older;  // value of the code before that
};

// Decodes `blockCount` consecutive 9-byte blocks into 16 * blockCount samples,
// in code order, and leaves `history` where the last code left it.
//
// Contract: both history values lie in -16384..16383 on entry. Decoding always
// leaves them there, and a zeroed history is there; the filter-1 path relies
// on it to skip the clamp (checked by an assertion in debug builds).
void BRRDecodeBlocks(BRRHistory& history, const std::uint8_t* blocks, std::size_t blockCount,
                     std::int16_t* out);

}  // namespace vornish

#endif
