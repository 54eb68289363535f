// BRRScan: its options checked, a memory image's directory looked up, and
// the scan over stretches (scan.h) with the directory's finds among the others.
#include <algorithm>
#include <new>
#include <vector>

#include "base/shared.h"
#include "memory/dump.h"
#include "scan/chain.h"
#include "scan/directory.h"
#include "scan/scan.h"

namespace vornish {
namespace scan {
namespace {

// The stretch each thread looks at in one go: large enough that a thread's
// start and the hand-over cost nothing, small enough to hold a few.
constexpr std::uint64_t kChunk = std::uint64_t{1} << 19;

// Passes on every find but the scan's that overlap a dump's echo buffer:
// the chip writes there, whatever chains it holds are not samples.
struct EchoFilter {
    BRRFoundFunction found;
    BRRScanProgressFunction progress;
    void* context;
    const BRRDump* dump;  // nullptr: none
    std::uint64_t memoryOffset;
};

int PassOutsideEcho(void* context, const BRRFound* f)
{
    const auto* e = static_cast<const EchoFilter*>(context);
    if (e->dump != nullptr && f->foundBy == BRR_FOUND_BY_SCAN && f->offset + f->blocks * BRR_BLOCK_SIZE > e->memoryOffset &&
        f->offset < e->memoryOffset + BRR_MEMORY_IMAGE_SIZE) {
        const std::uint64_t from = f->offset > e->memoryOffset ? f->offset - e->memoryOffset : 0;
        const std::uint64_t to = std::min<std::uint64_t>(f->offset + f->blocks * BRR_BLOCK_SIZE - e->memoryOffset,
                                                         BRR_MEMORY_IMAGE_SIZE);
        if (memory::InEcho(*e->dump, from, to - from)) {
            return 0;
        }
    }
    return e->found(e->context, f);
}

void ForwardProgress(void* context, std::uint64_t done, std::uint64_t total)
{
    const auto* e = static_cast<const EchoFilter*>(context);
    e->progress(e->context, done, total);
}

bool Reserved(const BRRScanOptions& o) { return o.reserved0 != 0 || !AllZero(o.reserved); }

// BRR_OK, or BRR_STATUS_BAD_OPTION for a field outside its range.
int CheckScanOptions(const BRRScanOptions& o, const std::uint8_t* data, std::size_t size)
{
    const bool memoryOk = o.memoryOffset == BRR_SCAN_AUTO || o.memoryOffset == BRR_SCAN_NONE ||
                          (o.memoryOffset >= 0 && size >= BRR_MEMORY_IMAGE_SIZE &&
                           static_cast<std::uint64_t>(o.memoryOffset) <= size - BRR_MEMORY_IMAGE_SIZE);
    const bool memory = o.memoryOffset >= 0 || (o.memoryOffset == BRR_SCAN_AUTO && memory::MemoryImageOf(data, size) >= 0);
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
    const int status = CheckScanOptions(o, data, size);
    if (status != BRR_OK) {
        return status;
    }
    try {
        const std::int64_t memory = o.memoryOffset >= 0 ? o.memoryOffset
                                    : o.memoryOffset == BRR_SCAN_AUTO ? vornish::memory::MemoryImageOf(data, size) : -1;
        // A dump's registers describe its own memory image, where it keeps it.
        BRRDump dump{};
        const bool registers = memory == BRR_DUMP_MEMORY_OFFSET && vornish::memory::IsDump(data, size);
        if (registers) {
            vornish::memory::ReadRegisters(data, dump);
        }
        std::vector<BRRFound> directory;
        if (memory >= 0 && o.directory != BRR_SCAN_NONE) {
            MemoryChains chains(data + memory);
            const std::int32_t page = ChooseDirectory(chains, o.directory, registers ? dump.directory : -1);
            if (page >= 0) {
                directory = DirectoryFinds(chains, static_cast<std::uint64_t>(memory), static_cast<std::uint32_t>(page));
            }
        }
        EchoFilter filter{found, o.progress, context, registers ? &dump : nullptr, static_cast<std::uint64_t>(memory)};
        BRRScanOptions forwarded = o;
        forwarded.progress = o.progress != nullptr ? ForwardProgress : nullptr;
        ScanStretches(data, size, forwarded, directory, PassOutsideEcho, &filter, kChunk);
    } catch (const std::bad_alloc&) {
        return BRR_STATUS_NO_MEMORY;
    }
    return BRR_OK;
}

}  // extern "C"
