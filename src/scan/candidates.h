// Where candidates are: end blocks, and how far back their chains go.
#ifndef VORNISH_SCAN_CANDIDATES_H
#define VORNISH_SCAN_CANDIDATES_H

#include <cstdint>

namespace vornish {
namespace scan {

constexpr std::uint64_t kNoPosition = ~std::uint64_t{0};
// The byte phases (offset mod 9): each is a sequence of blocks of its own.
constexpr std::uint64_t kPhases = 9;

// Eight positions at once: byte k of the result (bits 8k..8k+7) is 1 when the byte at
// at + k could end a candidate of `blocks` (1..4) blocks: an end block whose
// blocks-1 blocks before it (at 9, 18, 27 bytes back) are neither end
// blocks nor impossible ones, nor two in a row with unlike loop flags.
// A quick filter: the walk below decides.
// at >= 27 and at + 16 <= the data's size.
std::uint64_t EndMarks(const std::uint8_t* data, std::uint64_t at, int blocks);

// The same for 16 positions: bit k for the position at + k.
// at + 16 <= the data's size.
std::uint32_t EndMarks16(const std::uint8_t* data, std::uint64_t at, int blocks);

struct Candidate {
    std::uint64_t segment;  // the earliest block it may start at: after the end block
                            // before in this phase, or after a block no encoder makes
    std::uint64_t first;    // the candidate's first block: after the last one no encoder makes
    bool afterSample;       // the segment follows `foundEnd`, a find's end block
};

// Walks back from the end block at `end` through its segment, as the blocks
// would be read forwards: silent blocks pass, a block with range 13..15
// starts the candidate after it, a loop flag unlike the next block's starts
// it at that next block. `foundEnd` is the last find's end block in this
// phase (kNoPosition: none); a segment right after it keeps its silence.
Candidate CandidateAt(const std::uint8_t* data, std::uint64_t end, std::uint64_t foundEnd);

}  // namespace scan
}  // namespace vornish

#endif
