// BRRScan: every chain of every byte phase, in one pass over the data.
//
// Each of the 9 phases (offset mod 9) is a sequence of blocks that the end
// flags cut into segments; a sample is the tail of one segment. The pass
// reads headers only: per phase it keeps where the open segment's candidate
// starts (after the last block no encoder makes, past leading silence). At
// each end block a candidate long enough is decoded and judged (chain.h).
// Finds wait in offset order until no open segment can overlap them, the
// stronger of two overlapping ones kept; a memory image's directory finds
// come first.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

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
constexpr std::uint64_t kProgressStep = std::uint64_t{1} << 20;

struct Pending {
    BRRFound found;
    double evidence;
};

std::uint64_t EndOf(const BRRFound& f) { return f.offset + f.blocks * BRR_BLOCK_SIZE; }
bool Overlap(const BRRFound& a, const BRRFound& b) { return a.offset < EndOf(b) && b.offset < EndOf(a); }

class Scanner {
public:
    Scanner(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& options, BRRFoundFunction found,
            void* context, std::vector<BRRFound> directory)
        : data_(data), size_(size), options_(options), found_(found), context_(context),
          directory_(std::move(directory)), minSpan_((options.minBlocks - 1) * BRR_BLOCK_SIZE)
    {
    }

    void Run()
    {
        const std::uint64_t positions = size_ >= BRR_BLOCK_SIZE ? size_ - BRR_BLOCK_SIZE + 1 : 0;
        const int need = static_cast<int>(std::min<std::uint64_t>(options_.minBlocks, 4));
        std::uint64_t at = 0;
        for (; at < positions && at < 3 * BRR_BLOCK_SIZE; ++at) {
            Visit(at);
        }
        std::uint64_t nextStep = kProgressStep;
        for (; at + 24 <= size_ && !stopped_; at += 16) {
            std::uint8_t marks[16];
            if (EndMarks16(data_, at, need, marks)) {
                for (std::uint64_t k = 0; k < 16; ++k) {
                    if (marks[k] != 0) {
                        Visit(at + k);
                    }
                }
            }
            if (at >= nextStep) {
                nextStep += kProgressStep;
                Progress(at);
            }
        }
        for (; at < positions && !stopped_; ++at) {
            Visit(at);
        }
        Release(std::numeric_limits<std::uint64_t>::max());
        if (options_.progress != nullptr && !stopped_) {
            options_.progress(context_, size_, size_);
        }
    }

private:
    // An end block at `end`, perhaps the end of a sample.
    void Visit(std::uint64_t end)
    {
        if ((data_[end] & BRR_END_FLAG) == 0 || stopped_) {
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

    // Every so often: report what nothing open can overlap, and the progress.
    void Progress(std::uint64_t at)
    {
        Release(OpenFrom(at));
        if (options_.progress != nullptr && !stopped_) {
            options_.progress(context_, at, size_);
        }
    }

    // Judges the candidate [first, end]; true when it became a find.
    bool Judge(std::uint64_t segment, std::uint64_t first, std::uint64_t end, bool keepSilence)
    {
        Judged j = JudgeChain(data_, first, end, true, keepSilence);
        const double score = ScoreOf(j.evidence);
        if (j.blocks == 0 || score < options_.minScore) {
            return false;
        }
        std::uint64_t loud = j.start;  // past the zero blocks a bank may pad with
        while (keepSilence && loud < end && IsZeroBlock(data_ + loud)) {
            loud += BRR_BLOCK_SIZE;
        }
        if (!keepSilence || loud != j.start) {
            const std::uint64_t floor = keepSilence ? j.start : std::max(segment, FoundBefore(j.start));
            const std::uint64_t start = AlignStart(data_, floor, loud, keepSilence);
            j.blocks = (end - start) / BRR_BLOCK_SIZE + 1;
            j.start = start;
        }
        if (j.blocks < options_.minBlocks) {
            return false;
        }
        BRRFound f{};
        f.offset = j.start;
        f.blocks = j.blocks;
        f.loopBlock = BRR_NO_LOOP_START;
        f.score = score;
        f.foundBy = BRR_FOUND_BY_SCAN;
        f.entry = -1;
        f.loopFlag = (data_[end] & BRR_LOOP_FLAG) != 0 ? 1 : 0;
        Offer(Pending{f, j.evidence});
        return true;
    }

    // Where the last sure find before `offset` ends: no find reaches back
    // past it (one that might be chance bytes may still lose to it).
    std::uint64_t FoundBefore(std::uint64_t offset) const
    {
        constexpr double kSure = 0.99;
        std::uint64_t end = lastEnd_ <= offset ? lastEnd_ : 0;
        for (const Pending& p : pending_) {
            if (EndOf(p.found) <= offset && p.found.score >= kSure) {
                end = std::max(end, EndOf(p.found));
            }
        }
        return end;
    }

    // Keeps a find unless a directory find or a stronger pending one shares
    // its bytes; drops the weaker pending ones it overlaps.
    void Offer(const Pending& n)
    {
        if (std::any_of(directory_.begin(), directory_.end(), [&](const BRRFound& f) { return Overlap(f, n.found); })) {
            return;
        }
        auto first = std::lower_bound(pending_.begin(), pending_.end(), n.found.offset,
                                      [](const Pending& p, std::uint64_t offset) { return EndOf(p.found) <= offset; });
        auto last = first;
        while (last != pending_.end() && Overlap(last->found, n.found)) {
            if (last->evidence >= n.evidence) {
                return;
            }
            ++last;
        }
        pending_.insert(pending_.erase(first, last), n);
    }

    // The first byte a chain still open before `upTo` may claim: each
    // phase's last end block, found by reading back as far as the last look.
    std::uint64_t OpenFrom(std::uint64_t upTo)
    {
        std::uint64_t from = std::numeric_limits<std::uint64_t>::max();
        for (std::uint64_t k = 0; k < kPhases; ++k) {
            if (upTo > k) {
                const std::uint64_t last = k + (upTo - 1 - k) / kPhases * kPhases;
                for (std::uint64_t p = last + kPhases; p > read_[k];) {
                    p -= kPhases;
                    if ((data_[p] & BRR_END_FLAG) != 0) {
                        segment_[k] = p + kPhases;
                        break;
                    }
                }
                read_[k] = last + kPhases;
            }
            from = std::min(from, segment_[k]);
        }
        return from;
    }

    // Reports, in offset order, every find that nothing open can overlap.
    void Release(std::uint64_t open)
    {
        std::size_t done = 0;
        while (done < pending_.size() && EndOf(pending_[done].found) <= open && !stopped_) {
            Report(pending_[done].found.offset);
            if (!stopped_) {
                Call(pending_[done].found);
            }
            ++done;
        }
        if (done > 0) {
            lastEnd_ = std::max(lastEnd_, EndOf(pending_[done - 1].found));
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
        if (open == std::numeric_limits<std::uint64_t>::max()) {
            Report(open);
        }
    }

    // The directory's finds up to `offset`.
    void Report(std::uint64_t offset)
    {
        while (nextDirectory_ < directory_.size() && directory_[nextDirectory_].offset <= offset && !stopped_) {
            Call(directory_[nextDirectory_++]);
        }
    }

    void Call(const BRRFound& f) { stopped_ = found_(context_, &f) != 0; }

    const std::uint8_t* data_;
    std::uint64_t size_;
    const BRRScanOptions& options_;
    BRRFoundFunction found_;
    void* context_;
    std::vector<BRRFound> directory_;
    std::uint64_t minSpan_;  // bytes from a find's first block to its end block, at least
    std::size_t nextDirectory_ = 0;
    std::uint64_t foundEnd_[kPhases] = {kNoPosition, kNoPosition, kNoPosition, kNoPosition, kNoPosition,
                                        kNoPosition, kNoPosition, kNoPosition, kNoPosition};
    std::uint64_t segment_[kPhases] = {0, 1, 2, 3, 4, 5, 6, 7, 8};  // open segments' starts, as last read
    std::uint64_t read_[kPhases] = {0, 1, 2, 3, 4, 5, 6, 7, 8};     // each phase read back to here
    std::vector<Pending> pending_;
    std::uint64_t lastEnd_ = 0;  // where the last find reported ends
    bool stopped_ = false;
};

bool Reserved(const BRRScanOptions& o)
{
    return o.reserved0 != 0 || std::any_of(std::begin(o.reserved), std::end(o.reserved), [](std::uint32_t r) {
               return r != 0;
           });
}

// BRR_OK, or BRR_STATUS_BAD_OPTION for a field outside its range.
int CheckScanOptions(const BRRScanOptions& o, std::uint64_t size)
{
    const bool memoryOk = o.memoryOffset == BRR_SCAN_AUTO || o.memoryOffset == BRR_SCAN_NONE ||
                          (o.memoryOffset >= 0 && size >= BRR_MEMORY_IMAGE_SIZE &&
                           static_cast<std::uint64_t>(o.memoryOffset) <= size - BRR_MEMORY_IMAGE_SIZE);
    const bool memory = o.memoryOffset >= 0 || (o.memoryOffset == BRR_SCAN_AUTO && size == BRR_MEMORY_IMAGE_SIZE);
    const bool directoryOk = o.directory == BRR_SCAN_AUTO || o.directory == BRR_SCAN_NONE ||
                             (memory && o.directory >= 0 && o.directory <= 0xFF00 && o.directory % 256 == 0);
    const bool ok = o.minBlocks >= 1 && o.minBlocks <= (std::uint64_t{1} << 32) && o.minScore >= 0.0 &&
                    o.minScore <= 1.0 && memoryOk && directoryOk && !Reserved(o);
    return ok ? BRR_OK : BRR_STATUS_BAD_OPTION;
}

}  // namespace
}  // namespace scan
}  // namespace vornish

extern "C" {

VORNISH_BRR_API void BRRScanOptionsInit(BRRScanOptions* options)
{
    if (options == nullptr) {
        return;
    }
    *options = BRRScanOptions{};
    options->minBlocks = 4;
    options->minScore = BRR_DEFAULT_MIN_SCORE;
    options->memoryOffset = BRR_SCAN_AUTO;
    options->directory = BRR_SCAN_AUTO;
}

VORNISH_BRR_API int BRRScan(const std::uint8_t* data, std::size_t size, const BRRScanOptions* options,
                            BRRFoundFunction found, void* context)
{
    using namespace vornish::scan;
    BRRScanOptions defaults;
    BRRScanOptionsInit(&defaults);
    const BRRScanOptions& o = options != nullptr ? *options : defaults;
    if ((data == nullptr && size > 0) || found == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    const int status = CheckScanOptions(o, size);
    if (status != BRR_OK) {
        return status;
    }
    try {
        const std::int64_t memory = o.memoryOffset >= 0 ? o.memoryOffset
                                    : o.memoryOffset == BRR_SCAN_AUTO && size == BRR_MEMORY_IMAGE_SIZE ? 0 : -1;
        std::vector<BRRFound> directory;
        if (memory >= 0 && o.directory != BRR_SCAN_NONE) {
            directory = DirectoryFinds(data + memory, static_cast<std::uint64_t>(memory), o.directory);
        }
        Scanner scanner(data, size, o, found, context, std::move(directory));
        scanner.Run();
    } catch (const std::bad_alloc&) {
        return BRR_STATUS_NO_MEMORY;
    }
    return BRR_OK;
}

}  // extern "C"
