// The engine's WebAssembly entry points that the C API cannot offer a
// page as they are: a scan's finds gathered into one array (a page cannot
// hand the scanner a callback cheaply). Everything else the page calls is
// the C API itself.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VornishAudioBRR.h"

namespace {

struct Gathered {
    std::vector<BRRFound> finds;
};

int Gather(void* context, const BRRFound* found)
{
    static_cast<Gathered*>(context)->finds.push_back(*found);
    return 0;
}

}  // namespace

extern "C" {

// Scans size bytes with the default options (memoryOffset: BRR_SCAN_AUTO
// unless >= 0), into a malloc'd array of BRRFound whose count goes to
// *count; the caller frees it. Returns a status.
int VornishScanAll(const std::uint8_t* data, std::size_t size, std::int32_t memoryOffset, BRRFound** finds,
                   std::size_t* count)
{
    if (finds == nullptr || count == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    BRRScanOptions options;
    BRRScanOptionsInit(&options);
    if (memoryOffset >= 0) {
        options.memoryOffset = memoryOffset;
    }
    Gathered gathered;
    const int status = BRRScan(data, size, &options, Gather, &gathered);
    *count = gathered.finds.size();
    *finds = static_cast<BRRFound*>(std::malloc(sizeof(BRRFound) * (gathered.finds.size() + 1)));
    if (*finds == nullptr) {
        return BRR_STATUS_NO_MEMORY;
    }
    std::memcpy(*finds, gathered.finds.data(), sizeof(BRRFound) * gathered.finds.size());
    return status;
}

// sizeof(BRRFound), for the page's reading of the array.
std::size_t VornishFoundSize() { return sizeof(BRRFound); }

}  // extern "C"
