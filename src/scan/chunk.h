// The scan's finds, decided look by look in the order of their end blocks,
// with what the finds before them say: the same finds whatever the
// stretches the looks came in.
#ifndef VORNISH_SCAN_CHUNK_H
#define VORNISH_SCAN_CHUNK_H

#include <cstdint>
#include <vector>

#include "VornishAudioBRR.h"
#include "scan/look.h"

namespace vornish {
namespace scan {

struct Pending {
    BRRFound found;
    double evidence;
    bool sure;  // on its own evidence, not on a bank's place
};

inline std::uint64_t EndOf(const BRRFound& f) { return f.offset + f.blocks * BRR_BLOCK_SIZE; }
inline bool Overlap(const BRRFound& a, const BRRFound& b) { return a.offset < EndOf(b) && b.offset < EndOf(a); }

// Adds a find to `finds` (in order, none overlapping) unless one of the
// directory's or a stronger one shares its bytes; drops the weaker ones it
// overlaps. A start that reaches a block or two into a find before moves
// past it instead (keeping at least minBlocks).
void Offer(std::vector<Pending>& finds, const std::vector<BRRFound>& directory, Pending n, std::uint64_t minBlocks);

// What the scan knows as it goes: the finds not yet reported (in order, none
// overlapping), each phase's last find, the last sure find reported.
class Finder {
public:
    Finder(const std::uint8_t* data, const BRRScanOptions& options, const std::vector<BRRFound>& directory);

    // Decides the looks at one stretch, the stretch after the last one taken.
    void Take(const std::vector<Look>& looks);
    // The finds not yet reported, in order.
    std::vector<Pending>& finds() { return finds_; }
    // The first `count` finds have been reported: no chain still open can reach them.
    void Reported(std::size_t count);

private:
    void Visit(const Look& look);
    bool Judge(std::uint64_t segment, std::uint64_t first, std::uint64_t end, bool keepSilence, Judged j);
    void Add(std::uint64_t start, std::uint64_t end, double score, double evidence, bool sure);
    bool JudgeInBank(std::uint64_t first, std::uint64_t end);
    std::uint64_t FilterZeroStart(std::uint64_t start, std::uint64_t first) const;
    const BRRFound* SureFindAcross(std::uint64_t start, std::uint64_t end) const;
    const BRRFound* FoundBefore(std::uint64_t offset) const;

    const std::uint8_t* data_;
    const BRRScanOptions& options_;
    const std::vector<BRRFound>& directory_;
    std::uint64_t minSpan_;  // bytes from a find's first block to its end block, at least
    std::uint64_t foundEnd_[kPhases];  // each phase's last find's end block
    std::vector<Pending> finds_;
    BRRFound lastSure_{};
    bool haveLastSure_ = false;
};

}  // namespace scan
}  // namespace vornish

#endif
