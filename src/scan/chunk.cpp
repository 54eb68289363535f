// A stretch of the image: its end blocks found eight or sixteen positions at
// a time (candidates.h), each chain's start walked back to, short chains
// gated on their headers, the rest decoded and judged (chain.h), and each
// start placed where a bank would put it.
#include "scan/chunk.h"

#include <algorithm>

#include "scan/candidates.h"
#include "scan/chain.h"
#include "scan/evidence.h"

namespace vornish {
namespace scan {
namespace {

constexpr std::uint64_t kPhases = BRR_BLOCK_SIZE;
// Chains shorter than kShortChain blocks need kShortGate of header evidence
// (what a few blocks an encoder made have) to be decoded at all.
constexpr std::uint64_t kShortChain = 8;
constexpr float kShortGate = 4.0f;

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

// A find this likely is no chance bytes: others give way to it.
constexpr double kSure = 0.99;

class Chunk {
public:
    Chunk(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& options,
          const std::vector<BRRFound>& directory)
        : data_(data), size_(size), options_(options), directory_(directory),
          minSpan_((options.minBlocks - 1) * BRR_BLOCK_SIZE)
    {
    }

    std::vector<Pending> Run(std::uint64_t from, std::uint64_t to)
    {
        const int need = static_cast<int>(std::min<std::uint64_t>(options_.minBlocks, 4));
        std::uint64_t at = from;
        for (; at < to && at < std::uint64_t{3} * BRR_BLOCK_SIZE; ++at) {
            Visit(at);
        }
        for (; at + 16 <= to && at + 24 <= size_; at += 16) {
            for (std::uint32_t marks = EndMarks16(data_, at, need); marks != 0; marks &= marks - 1) {
                Visit(at + LowestBit(marks));
            }
        }
        for (; at < to; ++at) {
            Visit(at);
        }
        return std::move(finds_);
    }

private:
    // An end block at `end`, perhaps the end of a sample.
    void Visit(std::uint64_t end)
    {
        if ((data_[end] & BRR_END_FLAG) == 0) {
            return;
        }
        const std::uint64_t phase = end % kPhases;
        const Candidate c = CandidateAt(data_, end, foundEnd_[phase]);
        if (end - c.first < minSpan_) {
            return;
        }
        // Chance makes short chains by the thousand: one must pass on its
        // headers before it is decoded.
        if (end - c.first < (kShortChain - 1) * BRR_BLOCK_SIZE && HeaderEvidenceOf(data_, c.first, end) < kShortGate) {
            return;
        }
        if (Judge(c.segment, c.first, end, c.afterSample && c.first == c.segment)) {
            foundEnd_[phase] = end;
        }
    }

    // Judges the candidate [first, end]; true when it became a find.
    bool Judge(std::uint64_t segment, std::uint64_t first, std::uint64_t end, bool keepSilence)
    {
        Judged j = JudgeChain(data_, first, end, true, keepSilence);
        // A start inside a sure find is in that sample's bytes: the chain
        // is judged again from its first block after them.
        if (const BRRFound* inside = SureFindAcross(j.start, end)) {
            const std::uint64_t after = j.start + RoundUp(EndOf(*inside) - j.start, BRR_BLOCK_SIZE);
            if (after + minSpan_ > end) {
                return false;
            }
            j = JudgeChain(data_, after, end, true, false);
            keepSilence = false;
        }
        const double score = ScoreOf(j.evidence);
        if (j.blocks == 0 || score < options_.minScore) {
            return JudgeInBank(first, end);
        }
        j.start = FilterZeroStart(j.start, first);
        std::uint64_t loud = j.start;  // past the zero blocks a bank may pad with
        while (keepSilence && loud < end && IsZeroBlock(data_ + loud)) {
            loud += BRR_BLOCK_SIZE;
        }
        if (!keepSilence || loud != j.start) {
            const BRRFound* before = FoundBefore(keepSilence ? loud : j.start);
            const std::uint64_t after = before != nullptr ? EndOf(*before) : 0;
            const std::uint64_t floor = keepSilence ? j.start : std::max(segment, after);
            const std::uint64_t start = AlignStart(data_, floor, loud, keepSilence, after, before);
            j.blocks = (end - start) / BRR_BLOCK_SIZE + 1;
            j.start = start;
        }
        if (j.blocks < options_.minBlocks) {
            return false;
        }
        Add(j.start, end, score, j.evidence, score >= kSure);
        return true;
    }

    void Add(std::uint64_t start, std::uint64_t end, double score, double evidence, bool sure)
    {
        BRRFound f{};
        f.offset = start;
        f.blocks = (end - start) / BRR_BLOCK_SIZE + 1;
        f.loopBlock = BRR_NO_LOOP_START;
        f.score = score;
        f.foundBy = BRR_FOUND_BY_SCAN;
        f.entry = -1;
        f.loopFlag = (data_[end] & BRR_LOOP_FLAG) != 0 ? 1 : 0;
        Offer(finds_, directory_, Pending{f, evidence, sure}, options_.minBlocks);
    }

    // Banks hold samples back to back: a chain that starts where a bank puts
    // the sample after a sure find (right after its end block, or past zeros
    // at the next multiple of 16 or 256) is far likelier a sample than one
    // anywhere else, and needs kBankEvidence less evidence.
    bool JudgeInBank(std::uint64_t first, std::uint64_t end)
    {
        constexpr float kBankEvidence = 22.0f;
        constexpr std::uint64_t kLongestSilence = 32;  // blocks before the first loud one
        constexpr std::uint64_t kLoudest = 2;          // blocks that are not quiet, at least
        const BRRFound* before = FoundBefore(end);
        if (before == nullptr) {
            return false;
        }
        const std::uint64_t after = EndOf(*before);
        std::uint64_t start = kNoPosition;
        for (const std::uint64_t place : {RoundUp(after, 256), RoundUp(after, 16), after}) {
            if (place % kPhases == end % kPhases && place >= first && place + minSpan_ <= end &&
                !IsZeroBlock(data_ + place) &&
                std::all_of(data_ + after, data_ + place, [](std::uint8_t b) { return b == 0; })) {
                start = place;
            }
        }
        if (start == kNoPosition) {
            return false;
        }
        std::uint64_t loud = start;
        while (loud < end && IsSilent(data_ + loud)) {
            loud += BRR_BLOCK_SIZE;
        }
        const Judged j = JudgeChain(data_, start, end, false, false);
        const double evidence = j.evidence + kBankEvidence;
        const double score = ScoreOf(evidence);
        if (loud - start >= kLongestSilence * BRR_BLOCK_SIZE || j.loud < kLoudest || score < options_.minScore) {
            return false;
        }
        // Sure enough to place the next sample only if its own evidence is
        // not against it: else chance chains would follow each other.
        Add(start, end, score, evidence, score >= kSure && j.evidence >= 0.0);
        return true;
    }

    // An encoder starts from an empty history, with filter 0, and its next
    // block often predicts at once: a trimmed start on another filter right
    // after a filter-0 block is the sample's second block.
    std::uint64_t FilterZeroStart(std::uint64_t start, std::uint64_t first) const
    {
        const std::uint64_t before = start - BRR_BLOCK_SIZE;
        if ((data_[start] & 0x0C) != 0 && start >= first + BRR_BLOCK_SIZE && (data_[before] & 0x0C) == 0 &&
            !IsSilent(data_ + before)) {
            return before;
        }
        return start;
    }

    // A sure find that `start` lies inside, ending before `end` (nullptr: none).
    const BRRFound* SureFindAcross(std::uint64_t start, std::uint64_t end) const
    {
        for (auto p = finds_.rbegin(); p != finds_.rend() && EndOf(p->found) > start; ++p) {
            if (p->found.offset < start && EndOf(p->found) <= end && p->sure) {
                return &p->found;
            }
        }
        return nullptr;
    }

    // The last sure find that ends by `offset` (nullptr: none): no start is
    // walked back past it (one that might be chance bytes may still lose to it).
    const BRRFound* FoundBefore(std::uint64_t offset) const
    {
        for (auto p = finds_.rbegin(); p != finds_.rend(); ++p) {
            if (EndOf(p->found) <= offset && p->sure) {
                return &p->found;
            }
        }
        return nullptr;
    }

    const std::uint8_t* data_;
    std::uint64_t size_;
    const BRRScanOptions& options_;
    const std::vector<BRRFound>& directory_;
    std::uint64_t minSpan_;  // bytes from a find's first block to its end block, at least
    std::uint64_t foundEnd_[kPhases] = {kNoPosition, kNoPosition, kNoPosition, kNoPosition, kNoPosition,
                                        kNoPosition, kNoPosition, kNoPosition, kNoPosition};
    std::vector<Pending> finds_;
};

}  // namespace

namespace {

// Two samples never share bytes, and an end block is sure where a start is
// a guess: a start that reaches at most kEdge bytes into a sure find before
// moves to its own phase's first block after it.
constexpr std::uint64_t kEdge = std::uint64_t{2} * BRR_BLOCK_SIZE;

bool StartAfter(BRRFound& later, const Pending& before, std::uint64_t minBlocks)
{
    const BRRFound& earlier = before.found;
    const std::uint64_t into = EndOf(earlier) - later.offset;
    const std::uint64_t skip = RoundUp(into, BRR_BLOCK_SIZE) / BRR_BLOCK_SIZE;
    if (later.offset <= earlier.offset || into > kEdge || later.blocks < skip + minBlocks || !before.sure) {
        return false;
    }
    later.offset += skip * BRR_BLOCK_SIZE;
    later.blocks -= skip;
    return true;
}

}  // namespace

void Offer(std::vector<Pending>& finds, const std::vector<BRRFound>& directory, Pending n, std::uint64_t minBlocks)
{
    if (std::any_of(directory.begin(), directory.end(), [&](const BRRFound& f) { return Overlap(f, n.found); })) {
        return;
    }
    auto first = std::lower_bound(finds.begin(), finds.end(), n.found.offset,
                                  [](const Pending& p, std::uint64_t offset) { return EndOf(p.found) <= offset; });
    if (first != finds.end() && Overlap(first->found, n.found)) {
        StartAfter(n.found, *first, minBlocks);
        if (!Overlap(first->found, n.found)) {
            ++first;
        }
    }
    auto last = first;
    while (last != finds.end() && Overlap(last->found, n.found)) {
        if (StartAfter(last->found, n, minBlocks) && !Overlap(last->found, n.found)) {
            break;
        }
        if (last->evidence >= n.evidence) {
            return;
        }
        ++last;
    }
    finds.insert(finds.erase(first, last), n);
}

std::vector<Pending> ScanChunk(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& options,
                               const std::vector<BRRFound>& directory, std::uint64_t from, std::uint64_t to)
{
    return Chunk(data, size, options, directory).Run(from, to);
}

}  // namespace scan
}  // namespace vornish
