// The loop seam: how the samples before a loop's end match those before its
// start, over the decoded samples or the blocks themselves.
#ifndef VORNISH_ENCODE_SEAM_H
#define VORNISH_ENCODE_SEAM_H

#include <cstdint>

namespace vornish::encode {

// The seam of blockCount blocks looping to loopBlock, decoded with `rules`
// in fixed memory; NaN without a loop.
double LoopSeamOfBlocks(const std::uint8_t* blocks, std::uint64_t blockCount, std::int64_t loopBlock, int rules);

}  // namespace vornish::encode

#endif
