// A stretch's first look: every end block that may end a chain, walked back
// to its start and, where the chain is long enough and passes the quick gate,
// judged. It depends on nothing but the bytes, so stretches are looked at on
// several threads at once; what the finds before change is decided after,
// in order (chunk.h).
#ifndef VORNISH_SCAN_LOOK_H
#define VORNISH_SCAN_LOOK_H

#include <cstdint>
#include <vector>

#include "VornishAudioBRR.h"
#include "scan/candidates.h"
#include "scan/chain.h"

namespace vornish {
namespace scan {

struct Look {
    std::uint64_t end;  // the end block
    Candidate c;        // as no find before it makes it (afterSample false)
    bool judged;        // j holds JudgeChain(c.first, end, true, false)
    Judged j;
};

// Chains shorter than kShortChain blocks need kShortGate of header evidence
// (what a few blocks an encoder made have) to be decoded at all.
constexpr std::uint64_t kShortChain = 8;
constexpr float kShortGate = 4.0f;

// The end block just before the candidate's segment, in its phase, or
// kNoPosition (the segment starts after a block no encoder makes, or at 0):
// where a find before it would end.
inline std::uint64_t EndBlockBefore(const std::uint8_t* data, const Candidate& c)
{
    return c.segment >= BRR_BLOCK_SIZE && (data[c.segment - BRR_BLOCK_SIZE] & BRR_END_FLAG) != 0
               ? c.segment - BRR_BLOCK_SIZE
               : kNoPosition;
}

// Whether the chain [first, end] is long enough, and passes the gate.
bool WorthJudging(const std::uint8_t* data, std::uint64_t first, std::uint64_t end, std::uint64_t minSpan);

// The looks at the end blocks in [from, to) that can become finds: those
// judged, and those that a find ending right before their segment would
// make long enough. In order of end. Throws std::bad_alloc.
std::vector<Look> LookAt(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& options,
                         std::uint64_t from, std::uint64_t to);

}  // namespace scan
}  // namespace vornish

#endif
