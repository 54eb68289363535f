// BRR block decoder: blocks in memory in, 16-bit samples out. No I/O.
#ifndef VORNISH_BRR_DECODER_H
#define VORNISH_BRR_DECODER_H

#include <cstddef>
#include <cstdint>

namespace vornish {

// Size of one BRR block in bytes, and the samples it decodes to.
constexpr std::size_t kBRRBlockSize = 9;
constexpr std::size_t kBRRSamplesPerBlock = 16;

// One 9-byte block of the input, as read from the file.
struct BRRBlock {
    std::uint8_t bytes[kBRRBlockSize];
};

// The decoder's memory: the two most recent values, in the 15-bit domain
// (-16384..16383 once anything has been decoded). Every conversion owns one,
// so conversions on different threads never share it.
struct BRRHistory {
    std::int16_t last;   // value of the most recently decoded code
    std::int16_t older;  // value of the code before that
};

// Prediction from the two previous values. Only the low 8 bits of `filter`
// count; anything other than 1, 2 or 3 predicts 0.
std::int32_t BRRPredict(std::uint32_t filter, std::int32_t last, std::int32_t older);

// Decodes one 4-bit code (0..15) with the block's range (0..15) and filter
// (0..3) and shifts it into `history`. The sample is 2 * history.last.
void BRRDecodeNibble(BRRHistory& history, std::uint32_t code, std::uint32_t range,
                     std::uint32_t filter);

// Decodes one block into 16 samples, in code order.
void BRRDecodeBlock(BRRHistory& history, const BRRBlock& block, std::int16_t out[16]);

// Decodes `blockCount` consecutive 9-byte blocks into 16 * blockCount samples.
// Same result as BRRDecodeBlock on each block in turn, only faster.
void BRRDecodeBlocks(BRRHistory& history, const std::uint8_t* blocks, std::size_t blockCount,
                     std::int16_t* out);

}  // namespace vornish

#endif
