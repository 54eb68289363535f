// BRRScan: every chain of every byte phase, in one pass over the data.
//
// Each of the 9 phases (offset mod 9) is a sequence of blocks that the end
// flags cut into segments; a sample is the tail of one segment. The image
// is scanned in stretches of kChunk bytes (chunk.h), two at a time where
// the platform has threads; the caller's thread merges their finds (the
// stronger of two overlapping ones kept) and reports each in offset order
// once no chain still open can overlap it, a memory image's directory finds
// among them.
#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "scan/candidates.h"
#include "scan/chain.h"
#include "scan/chunk.h"

// MinGW's default (win32) thread model has no std::thread.
#if defined(_WIN32)
#define VORNISH_SCAN_THREAD 0
#else
#define VORNISH_SCAN_THREAD 1
#include <system_error>
#include <thread>
#endif

namespace vornish {
namespace scan {
namespace {

constexpr std::uint64_t kPhases = BRR_BLOCK_SIZE;
constexpr std::uint64_t kChunk = std::uint64_t{4} << 20;

// The finds of the stretches scanned so far, reported when nothing later can overlap them.
class Reporter {
public:
    Reporter(const std::uint8_t* data, const std::vector<BRRFound>& directory, std::uint64_t minBlocks,
             BRRFoundFunction found, void* context)
        : data_(data), directory_(directory), minBlocks_(minBlocks), found_(found), context_(context)
    {
    }

    bool stopped() const { return stopped_; }

    // Merges a stretch's finds, then reports those that no chain open at
    // `upTo` can reach (every find, when upTo is the end).
    void Add(const std::vector<Pending>& finds, std::uint64_t upTo, bool last)
    {
        for (const Pending& p : finds) {
            Offer(pending_, directory_, p, minBlocks_);
        }
        const std::uint64_t open = last ? std::numeric_limits<std::uint64_t>::max() : OpenFrom(upTo);
        std::size_t done = 0;
        while (done < pending_.size() && EndOf(pending_[done].found) <= open && !stopped_) {
            Report(pending_[done].found.offset);
            if (!stopped_) {
                Call(pending_[done].found);
            }
            ++done;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
        if (last) {
            Report(std::numeric_limits<std::uint64_t>::max());
        }
    }

private:
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

    // The directory's finds up to `offset`.
    void Report(std::uint64_t offset)
    {
        while (nextDirectory_ < directory_.size() && directory_[nextDirectory_].offset <= offset && !stopped_) {
            Call(directory_[nextDirectory_++]);
        }
    }

    void Call(const BRRFound& f) { stopped_ = found_(context_, &f) != 0; }

    const std::uint8_t* data_;
    const std::vector<BRRFound>& directory_;
    std::uint64_t minBlocks_;
    BRRFoundFunction found_;
    void* context_;
    std::size_t nextDirectory_ = 0;
    std::uint64_t segment_[kPhases] = {0, 1, 2, 3, 4, 5, 6, 7, 8};  // open segments' starts, as last read
    std::uint64_t read_[kPhases] = {0, 1, 2, 3, 4, 5, 6, 7, 8};     // each phase read back to here
    std::vector<Pending> pending_;
    bool stopped_ = false;
};

// Scans two stretches at once, the second on a thread of its own where
// there is one.
void ScanPair(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& o,
              const std::vector<BRRFound>& directory, const std::uint64_t bounds[3], std::vector<Pending> out[2])
{
#if VORNISH_SCAN_THREAD
    if (bounds[2] > bounds[1]) {
        bool failed = false;
        try {
            std::thread helper([&] {
                try {
                    out[1] = ScanChunk(data, size, o, directory, bounds[1], bounds[2]);
                } catch (const std::bad_alloc&) {
                    failed = true;
                }
            });
            try {
                out[0] = ScanChunk(data, size, o, directory, bounds[0], bounds[1]);
            } catch (...) {
                helper.join();
                throw;
            }
            helper.join();
        } catch (const std::system_error&) {
            // No thread to be had: one after the other, below.
            out[0] = ScanChunk(data, size, o, directory, bounds[0], bounds[1]);
            out[1] = ScanChunk(data, size, o, directory, bounds[1], bounds[2]);
        }
        if (failed) {
            throw std::bad_alloc();
        }
        return;
    }
#endif
    out[0] = ScanChunk(data, size, o, directory, bounds[0], bounds[1]);
    out[1] = ScanChunk(data, size, o, directory, bounds[1], bounds[2]);
}

void Scan(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& o, const std::vector<BRRFound>& directory,
          BRRFoundFunction found, void* context)
{
    const std::uint64_t positions = size >= BRR_BLOCK_SIZE ? size - BRR_BLOCK_SIZE + 1 : 0;
    Reporter reporter(data, directory, o.minBlocks, found, context);
    std::uint64_t at = 0;
    do {
        const std::uint64_t bounds[3] = {at, std::min(positions, at + kChunk), std::min(positions, at + 2 * kChunk)};
        std::vector<Pending> finds[2];
        ScanPair(data, size, o, directory, bounds, finds);
        at = bounds[2];
        reporter.Add(finds[0], bounds[1], false);
        reporter.Add(finds[1], at, at >= positions);
        if (o.progress != nullptr && !reporter.stopped()) {
            o.progress(context, at >= positions ? size : at, size);
        }
    } while (at < positions && !reporter.stopped());
}

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
        Scan(data, size, o, directory, found, context);
    } catch (const std::bad_alloc&) {
        return BRR_STATUS_NO_MEMORY;
    }
    return BRR_OK;
}

}  // extern "C"
