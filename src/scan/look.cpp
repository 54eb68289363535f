// A stretch's first look: its end blocks found sixteen positions at a time
// (candidates.h), each chain's start walked back to, short chains gated on
// their headers, the rest decoded and judged (chain.h).
#include "scan/look.h"

#include <algorithm>

#include "scan/evidence.h"

namespace vornish {
namespace scan {
namespace {

// The index of the lowest bit set; x != 0.
std::uint64_t LowestBit(std::uint32_t x)
{
#if defined(__GNUC__) || defined(__clang__)
    return static_cast<std::uint64_t>(__builtin_ctz(x));
#else
    std::uint64_t k = 0;
    while ((x & 1u) == 0) {
        x >>= 1;
        ++k;
    }
    return k;
#endif
}

class Looking {
public:
    Looking(const std::uint8_t* data, std::uint64_t minBlocks, std::uint64_t from)
        : data_(data), minSpan_((minBlocks - 1) * BRR_BLOCK_SIZE), from_(from)
    {
        std::fill(std::begin(kept_), std::end(kept_), kNoPosition);
    }

    // An end block at `end`, perhaps the end of a sample.
    void Visit(std::uint64_t end)
    {
        if ((data_[end] & BRR_END_FLAG) == 0) {
            return;
        }
        Look look{end, CandidateAt(data_, end, kNoPosition), false, Judged{}};
        if (WorthJudging(data_, look.c.first, end, minSpan_)) {
            look.judged = true;
            look.j = JudgeChain(data_, look.c.first, end, true, false);
        } else if (!MayFollowAFind(look.c, end)) {
            return;
        }
        kept_[end % kPhases] = end;
        looks_.push_back(look);
    }

    std::vector<Look> Take() { return std::move(looks_); }

private:
    // A chain not worth judging alone may still become one right after a
    // find's end block in its phase (it then starts at its segment): only
    // where that end block was kept, or lies before this stretch.
    bool MayFollowAFind(const Candidate& c, std::uint64_t end) const
    {
        const std::uint64_t before = EndBlockBefore(data_, c);
        return before != kNoPosition && end - c.segment >= minSpan_ &&
               (before < from_ || kept_[end % kPhases] == before);
    }

    const std::uint8_t* data_;
    std::uint64_t minSpan_;
    std::uint64_t from_;
    std::uint64_t kept_[kPhases];  // each phase's last end block kept
    std::vector<Look> looks_;
};

}  // namespace

bool WorthJudging(const std::uint8_t* data, std::uint64_t first, std::uint64_t end, std::uint64_t minSpan)
{
    // Chance makes short chains by the thousand: one must pass on its
    // headers before it is decoded.
    return end - first >= minSpan &&
           (end - first >= (kShortChain - 1) * BRR_BLOCK_SIZE || HeaderEvidenceOf(data, first, end) >= kShortGate);
}

std::vector<Look> LookAt(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& options,
                         std::uint64_t from, std::uint64_t to)
{
    Looking looking(data, options.minBlocks, from);
    const int need = static_cast<int>(std::min<std::uint64_t>(options.minBlocks, 4));
    std::uint64_t at = from;
    for (; at < to && at < std::uint64_t{3} * BRR_BLOCK_SIZE; ++at) {
        looking.Visit(at);
    }
    for (; at + 16 <= to && at + 24 <= size; at += 16) {
        for (std::uint32_t marks = EndMarks16(data, at, need); marks != 0; marks &= marks - 1) {
            looking.Visit(at + LowestBit(marks));
        }
    }
    for (; at < to; ++at) {
        looking.Visit(at);
    }
    return looking.Take();
}

}  // namespace scan
}  // namespace vornish
