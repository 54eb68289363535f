// BRRInsert: a sample put back into an image, at a directory entry's place
// (its old place, or a free range that overlaps nothing the program uses)
// or over the chain at an offset. Everything is checked before the first
// byte is written, so a refusal leaves the image as it was.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/shared.h"
#include "memory/dump.h"
#include "scan/directory.h"

namespace vornish {
namespace memory {
namespace {

constexpr std::int64_t kMemory = BRR_MEMORY_IMAGE_SIZE;

struct NewSample {
    const std::uint8_t* blocks;
    std::uint64_t bytes;
    std::uint64_t loopOffset;  // the loop header's, 0 without one
    bool header;
    bool loops;
};

int ReadSample(const std::uint8_t* sample, std::size_t size, NewSample& s)
{
    s.header = size % BRR_BLOCK_SIZE == BRR_LOOP_HEADER_SIZE;
    if (size % BRR_BLOCK_SIZE != 0 && !s.header) {
        return BRR_STATUS_BAD_SIZE;
    }
    s.blocks = sample + (s.header ? BRR_LOOP_HEADER_SIZE : 0);
    s.bytes = size - (s.header ? BRR_LOOP_HEADER_SIZE : 0);
    if (s.bytes == 0) {
        return BRR_STATUS_NO_BLOCKS;
    }
    s.loopOffset = s.header ? static_cast<std::uint64_t>(sample[0] | (sample[1] << 8)) : 0;
    if (s.loopOffset % BRR_BLOCK_SIZE != 0 || s.loopOffset >= s.bytes) {
        return BRR_STATUS_BAD_LOOP_HEADER;
    }
    const std::uint8_t last = s.blocks[s.bytes - BRR_BLOCK_SIZE];
    if ((last & BRR_END_FLAG) == 0) {
        return BRR_STATUS_NO_END_BLOCK;
    }
    s.loops = (last & BRR_LOOP_FLAG) != 0;
    return BRR_OK;
}

bool RangeOk(const BRRMemoryRange& r) { return r.start >= 0 && r.start < r.end && r.end <= kMemory; }

int CheckOptions(const BRRInsertOptions& o, std::size_t size)
{
    const bool byEntry = o.entry >= 0 && o.entry <= 255 && o.at == -1;
    const bool byOffset = o.entry == -1 && o.at >= 0 && static_cast<std::uint64_t>(o.at) < size;
    const bool memory = o.memoryOffset == BRR_SCAN_AUTO ||
                        (o.memoryOffset >= 0 && size >= static_cast<std::uint64_t>(kMemory) &&
                         static_cast<std::uint64_t>(o.memoryOffset) <= size - static_cast<std::uint64_t>(kMemory));
    const bool directory = o.directory == BRR_SCAN_AUTO || (o.directory >= 0 && o.directory <= 0xFF00 && o.directory % 256 == 0);
    const bool echo = o.echoStart == -1 || (o.echoStart >= 0 && o.echoStart < kMemory && o.echoBytes >= 1 && o.echoBytes <= kMemory);
    bool free = o.freeCount >= 0 && o.freeCount <= BRR_MAX_FREE_RANGES && (o.freeCount == 0 || o.free != nullptr);
    for (std::int32_t i = 0; free && i < o.freeCount; ++i) {
        free = RangeOk(o.free[i]);
    }
    const bool ok = (byEntry || byOffset) && memory && directory && echo && free && o.reserved0 == 0 && AllZero(o.reserved);
    return ok ? BRR_OK : BRR_STATUS_BAD_OPTION;
}

// What an entry's new sample must keep clear of.
struct Layout {
    std::uint32_t directoryStart, directoryEnd;  // through the last entry that names a sample
    std::vector<scan::DirectoryEntry> others;    // every other entry
    std::int64_t echoStart, echoBytes;           // echoStart -1: none
};

bool Overlaps(std::int64_t a, std::int64_t n, std::int64_t b, std::int64_t m) { return a < b + m && b < a + n; }

// BRR_OK when [place, place + bytes) is free of everything the program uses.
int CheckPlace(const Layout& l, std::int64_t place, std::int64_t bytes)
{
    if (place + bytes > kMemory) {
        return BRR_STATUS_NO_ROOM;
    }
    if (Overlaps(place, bytes, l.directoryStart, l.directoryEnd - l.directoryStart)) {
        return BRR_STATUS_OVERLAPS_DIRECTORY;
    }
    for (const scan::DirectoryEntry& e : l.others) {
        if (Overlaps(place, bytes, e.start, std::int64_t{e.blocks} * BRR_BLOCK_SIZE)) {
            return BRR_STATUS_OVERLAPS_SAMPLE;
        }
    }
    if (l.echoStart >= 0 && OverlapsWrapping(static_cast<std::uint64_t>(place), static_cast<std::uint64_t>(bytes),
                                             static_cast<std::uint64_t>(l.echoStart),
                                             static_cast<std::uint64_t>(l.echoBytes))) {
        return BRR_STATUS_OVERLAPS_ECHO;
    }
    return BRR_OK;
}

// The bytes from a free range's start that overlap nothing.
std::int64_t OpenBytes(const Layout& l, const BRRMemoryRange& f)
{
    std::int64_t low = 0;  // open; the answer lies in [low, high]
    std::int64_t high = f.end - f.start;
    while (low < high) {
        const std::int64_t mid = low + (high - low + 1) / 2;
        if (CheckPlace(l, f.start, mid) == BRR_OK) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low;
}

// Chooses the place: the old one, else the first free range it fits.
int Choose(const Layout& l, const scan::DirectoryEntry& old, const NewSample& s, const BRRInsertOptions& o,
           BRRInsertResult& r)
{
    const auto need = static_cast<std::int64_t>(s.bytes);
    const std::int64_t oldBytes = std::int64_t{old.blocks} * BRR_BLOCK_SIZE;
    int refused = BRR_OK;
    if (r.sharedEntries == 0 && CheckPlace(l, old.start, oldBytes) == BRR_OK) {
        r.room = static_cast<std::uint64_t>(oldBytes);
        if (need <= oldBytes) {
            r.start = old.start;
            return BRR_OK;
        }
    }
    for (std::int32_t i = 0; i < o.freeCount; ++i) {
        const BRRMemoryRange& f = o.free[i];
        r.room = std::max(r.room, static_cast<std::uint64_t>(OpenBytes(l, f)));
        if (f.end - f.start < need || r.start >= 0) {
            continue;
        }
        const int status = CheckPlace(l, f.start, need);
        if (status == BRR_OK) {
            r.start = f.start;
            r.freeRange = i;
        } else if (refused == BRR_OK) {
            refused = status;
        }
    }
    return r.start >= 0 ? BRR_OK : refused != BRR_OK ? refused : BRR_STATUS_NO_ROOM;
}

// The entry's layout and place, or a status; nothing written.
int PlaceEntry(std::uint8_t* data, std::size_t size, const NewSample& s, const BRRInsertOptions& o,
               BRRInsertResult& r)
{
    const std::int64_t memory = o.memoryOffset >= 0 ? o.memoryOffset : MemoryImageOf(data, size);
    if (memory < 0) {
        return BRR_STATUS_NO_SUCH_ENTRY;
    }
    const bool registers = memory == BRR_DUMP_MEMORY_OFFSET && IsDump(data, size);
    BRRDump dump{};
    if (registers) {
        ReadRegisters(data, dump);
    }
    std::uint8_t* m = data + memory;
    scan::MemoryChains chains(m);
    const std::int32_t page = scan::ChooseDirectory(chains, o.directory, registers ? dump.directory : -1);
    const std::vector<scan::DirectoryEntry> entries =
        page >= 0 ? scan::ReadDirectory(chains, static_cast<std::uint32_t>(page)) : std::vector<scan::DirectoryEntry>{};
    const auto old = std::find_if(entries.begin(), entries.end(),
                                  [&](const scan::DirectoryEntry& e) { return e.number == static_cast<std::uint32_t>(o.entry); });
    if (old == entries.end()) {
        return BRR_STATUS_NO_SUCH_ENTRY;
    }
    Layout l{static_cast<std::uint32_t>(page), static_cast<std::uint32_t>(page) + 4 * (entries.back().number + 1), {},
             o.echoStart >= 0 ? o.echoStart : registers ? dump.echoStart : -1,
             o.echoStart >= 0 ? o.echoBytes : dump.echoBytes};
    const std::int64_t oldBytes = std::int64_t{old->blocks} * BRR_BLOCK_SIZE;
    for (const scan::DirectoryEntry& e : entries) {
        if (e.number != old->number) {
            l.others.push_back(e);
            r.sharedEntries += Overlaps(e.start, std::int64_t{e.blocks} * BRR_BLOCK_SIZE, old->start, oldBytes) ? 1 : 0;
        }
    }
    r.directory = page;
    r.oldOffset = static_cast<std::uint64_t>(memory) + old->start;
    r.oldBytes = static_cast<std::uint64_t>(oldBytes);
    const int status = Choose(l, *old, s, o, r);
    if (status == BRR_OK) {
        r.loopAddress = r.start + static_cast<std::int64_t>(s.loopOffset);
        r.offset = static_cast<std::uint64_t>(memory + r.start);
        std::uint8_t* entry = m + page + std::ptrdiff_t{4} * o.entry;
        std::memcpy(data + r.offset, s.blocks, static_cast<std::size_t>(s.bytes));
        entry[0] = static_cast<std::uint8_t>(r.start & 0xFF);
        entry[1] = static_cast<std::uint8_t>(r.start >> 8);
        entry[2] = static_cast<std::uint8_t>(r.loopAddress & 0xFF);
        entry[3] = static_cast<std::uint8_t>(r.loopAddress >> 8);
    }
    return status;
}

// The chain at `at` through its end block, replaced when the sample fits.
int PlaceAt(std::uint8_t* data, std::size_t size, const NewSample& s, std::uint64_t at, BRRInsertResult& r)
{
    std::uint64_t end = at;
    while (end + BRR_BLOCK_SIZE <= size && (data[end] & BRR_END_FLAG) == 0) {
        end += BRR_BLOCK_SIZE;
    }
    if (end + BRR_BLOCK_SIZE > size) {
        return BRR_STATUS_NO_END_BLOCK;
    }
    r.oldOffset = at;
    r.oldBytes = end + BRR_BLOCK_SIZE - at;
    r.room = r.oldBytes;
    if (s.bytes > r.oldBytes) {
        return BRR_STATUS_NO_ROOM;
    }
    r.offset = at;
    std::memcpy(data + at, s.blocks, static_cast<std::size_t>(s.bytes));
    return BRR_OK;
}

}  // namespace
}  // namespace memory
}  // namespace vornish

extern "C" {

VORNISH_BRR_API void BRRInsertOptionsInit(BRRInsertOptions* options)
{
    if (options == nullptr) {
        return;
    }
    *options = BRRInsertOptions{};
    options->entry = -1;
    options->at = -1;
    options->memoryOffset = BRR_SCAN_AUTO;
    options->directory = BRR_SCAN_AUTO;
    options->echoStart = -1;
}

VORNISH_BRR_API int BRRInsert(std::uint8_t* data, std::size_t size, const std::uint8_t* sample, std::size_t sampleSize,
                              const BRRInsertOptions* options, BRRInsertResult* result)
{
    using namespace vornish::memory;
    if (data == nullptr || (sample == nullptr && sampleSize > 0) || options == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    int status = CheckOptions(*options, size);
    NewSample s{};
    if (status == BRR_OK) {
        status = ReadSample(sample, sampleSize, s);
    }
    if (status != BRR_OK) {
        return status;
    }
    BRRInsertResult r{};
    r.bytes = s.bytes;
    r.start = r.loopAddress = -1;
    r.freeRange = r.directory = -1;
    r.loopBlock = s.loops ? static_cast<std::int64_t>(s.loopOffset / BRR_BLOCK_SIZE) : BRR_NO_LOOP_START;
    r.loopFlagWithoutHeader = s.loops && !s.header ? 1 : 0;
    try {
        status = options->entry >= 0 ? PlaceEntry(data, size, s, *options, r)
                                     : PlaceAt(data, size, s, static_cast<std::uint64_t>(options->at), r);
    } catch (const std::bad_alloc&) {
        return BRR_STATUS_NO_MEMORY;
    }
    if (result != nullptr && (status == BRR_OK || status == BRR_STATUS_NO_ROOM || status == BRR_STATUS_OVERLAPS_DIRECTORY ||
                              status == BRR_STATUS_OVERLAPS_SAMPLE || status == BRR_STATUS_OVERLAPS_ECHO)) {
        *result = r;
    }
    return status;
}

}  // extern "C"
