// Judging one chain of blocks, and where a sample begins.
#ifndef VORNISH_SCAN_CHAIN_H
#define VORNISH_SCAN_CHAIN_H

#include <cstdint>
#include <vector>

#include "VornishAudioBRR.h"

namespace vornish {
namespace scan {

// x rounded up to a multiple of `to`.
inline std::uint64_t RoundUp(std::uint64_t x, std::uint64_t to) { return (x + to - 1) / to * to; }

struct Judged {
    std::uint64_t start;  // byte offset of the first block kept
    std::uint64_t blocks; // through the end block; 0: nothing audio-like
    double evidence;
    std::uint64_t loud;   // blocks judged that are not quiet
};

// Decodes the chain of blocks at [first, end] (end: the end block's offset,
// first + 9k) with the hardware's rules and sums its evidence. With `trim`,
// the start moves to where the best-scoring suffix begins, past leading
// blocks of zero bytes; without, the chain is judged whole.
Judged JudgeChain(const std::uint8_t* data, std::uint64_t first, std::uint64_t end, bool trim,
                  bool keepSilence);

// The evidence of the headers alone, silent blocks passed over: a quick
// look at short chains before they are decoded.
float HeaderEvidenceOf(const std::uint8_t* data, std::uint64_t first, std::uint64_t end);

// Where a sample whose first loud block is at `start` begins, at `segment`
// (its segment's first block) or later: back over the faint blocks before
// it (every code small: a sample's quiet beginning, or fill), to the
// one where a bank would put it: at the next multiple of 16 or 256 after
// the data before (padded with zeros). Without such a place: at `segment`
// when `packed` (it follows a sample's end block) and less than 256 blocks
// before, else at the first of the near-silent blocks just before `start`
// that are not all zero bytes. `after` is where the find before (`before`,
// nullptr: none) ends: the zeros of its own last block are no padding.
std::uint64_t AlignStart(const std::uint8_t* data, std::uint64_t segment, std::uint64_t start, bool packed,
                         std::uint64_t after, const BRRFound* before);

}  // namespace scan
}  // namespace vornish

#endif
