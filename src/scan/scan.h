// The scan over stretches of a given size, for BRRScan and for the tests
// that show its finds do not depend on that size.
#ifndef VORNISH_SCAN_SCAN_H
#define VORNISH_SCAN_SCAN_H

#include <cstdint>
#include <vector>

#include "VornishAudioBRR.h"

namespace vornish {
namespace scan {

// Scans [data, data + size) with checked options, `stretch` bytes looked at
// on a thread at a time, and calls found for each find (the directory's
// among them) in offset order. Throws std::bad_alloc.
void ScanStretches(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& options,
                   const std::vector<BRRFound>& directory, BRRFoundFunction found, void* context,
                   std::uint64_t stretch);

}  // namespace scan
}  // namespace vornish

#endif
