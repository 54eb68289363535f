// One stretch of the image scanned on its own: every end block in it,
// judged, its finds kept in order and free of overlaps. Stretches can be
// scanned at once on different threads; their finds are merged after.
#ifndef VORNISH_SCAN_CHUNK_H
#define VORNISH_SCAN_CHUNK_H

#include <cstdint>
#include <vector>

#include "VornishAudioBRR.h"

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

// The finds whose end blocks lie in [from, to) (chains may reach back before
// `from`), in order of offset. Throws std::bad_alloc.
std::vector<Pending> ScanChunk(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& options,
                               const std::vector<BRRFound>& directory, std::uint64_t from, std::uint64_t to);

}  // namespace scan
}  // namespace vornish

#endif
