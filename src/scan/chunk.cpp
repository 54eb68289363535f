// The finds of the looks at a stretch (look.h), decided in order with what
// the scan found before: a chain right after a find keeps its silence, one
// inside a sure find is judged again from after it, one that fails alone may
// still start where a bank puts a sample, and each start is placed where a
// bank would put it.
#include "scan/chunk.h"

#include <algorithm>

#include "scan/evidence.h"

namespace vornish {
namespace scan {
namespace {

// A find this likely is no chance bytes: others give way to it.
constexpr double kSure = 0.99;

}  // namespace

Finder::Finder(const std::uint8_t* data, const BRRScanOptions& options, const std::vector<BRRFound>& directory)
    : data_(data), options_(options), directory_(directory), minSpan_((options.minBlocks - 1) * BRR_BLOCK_SIZE)
{
    std::fill(std::begin(foundEnd_), std::end(foundEnd_), kNoPosition);
}

void Finder::Take(const std::vector<Look>& looks)
{
    for (const Look& look : looks) {
        Visit(look);
    }
}

void Finder::Reported(std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        if (finds_[k].sure) {
            lastSure_ = finds_[k].found;
            haveLastSure_ = true;
        }
    }
    finds_.erase(finds_.begin(), finds_.begin() + static_cast<std::ptrdiff_t>(count));
}

// The look's chain as the finds before make it: right after a find's end
// block in its phase, it starts at its segment and keeps its silence (and
// is decided here, not by the first look's judgement).
void Finder::Visit(const Look& look)
{
    const std::uint64_t end = look.end;
    const std::uint64_t phase = end % kPhases;
    const std::uint64_t segment = look.c.segment;
    const bool afterFind = foundEnd_[phase] != kNoPosition && EndBlockBefore(data_, look.c) == foundEnd_[phase];
    const std::uint64_t first = afterFind ? segment : look.c.first;
    if (afterFind ? !WorthJudging(data_, first, end, minSpan_) : !look.judged) {
        return;
    }
    const Judged j = afterFind ? JudgeChain(data_, first, end, true, true) : look.j;
    if (Judge(segment, first, end, afterFind, j)) {
        foundEnd_[phase] = end;
    }
}

// Judges the candidate [first, end], judged first as `j`; true when it became a find.
bool Finder::Judge(std::uint64_t segment, std::uint64_t first, std::uint64_t end, bool keepSilence, Judged j)
{
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

void Finder::Add(std::uint64_t start, std::uint64_t end, double score, double evidence, bool sure)
{
    BRRFound f{};
    f.offset = start;
    f.blocks = (end - start) / BRR_BLOCK_SIZE + 1;
    f.loopBlock = BRR_NO_LOOP_START;
    f.score = score;
    f.foundBy = BRR_FOUND_BY_SCAN;
    f.entry = -1;
    f.entryNumber = -1;
    f.loopFlag = (data_[end] & BRR_LOOP_FLAG) != 0 ? 1 : 0;
    Offer(finds_, directory_, Pending{f, evidence, sure}, options_.minBlocks);
}

// Banks hold samples back to back: a chain that starts where a bank puts
// the sample after a sure find (right after its end block, or past zeros
// at the next multiple of 16 or 256) is far likelier a sample than one
// anywhere else, and needs kBankEvidence less evidence.
bool Finder::JudgeInBank(std::uint64_t first, std::uint64_t end)
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
std::uint64_t Finder::FilterZeroStart(std::uint64_t start, std::uint64_t first) const
{
    const std::uint64_t before = start - BRR_BLOCK_SIZE;
    if ((data_[start] & 0x0C) != 0 && start >= first + BRR_BLOCK_SIZE && (data_[before] & 0x0C) == 0 &&
        !IsSilent(data_ + before)) {
        return before;
    }
    return start;
}

// A sure find that `start` lies inside, ending before `end` (nullptr: none).
const BRRFound* Finder::SureFindAcross(std::uint64_t start, std::uint64_t end) const
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
const BRRFound* Finder::FoundBefore(std::uint64_t offset) const
{
    for (auto p = finds_.rbegin(); p != finds_.rend(); ++p) {
        if (EndOf(p->found) <= offset && p->sure) {
            return &p->found;
        }
    }
    // Finds reported already end before any chain still open begins.
    return haveLastSure_ ? &lastSure_ : nullptr;
}


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

}  // namespace scan
}  // namespace vornish
