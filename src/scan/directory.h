// A memory image's sample directory: its entries read, found when its place
// is not known, and chosen between a dump's register and the search.
#ifndef VORNISH_SCAN_DIRECTORY_H
#define VORNISH_SCAN_DIRECTORY_H

#include <cstdint>
#include <memory>
#include <vector>

#include "VornishAudioBRR.h"

namespace vornish {
namespace scan {

struct DirectoryTables;

// A 64 KiB memory image with the length of the chain from every address
// measured once. Throws std::bad_alloc.
struct MemoryChains {
    explicit MemoryChains(const std::uint8_t* memory);
    ~MemoryChains();
    const std::uint8_t* memory;
    std::unique_ptr<DirectoryTables> tables;
    // Blocks of the chain at `start` through its end block; 0: no end inside.
    std::uint32_t Blocks(std::uint32_t start) const;
};

// An entry that names a sample.
struct DirectoryEntry {
    std::uint32_t number;   // 0..255
    std::uint32_t address;  // of the entry itself
    std::uint32_t start;
    std::uint32_t loop;     // the loop address as stored
    std::uint32_t blocks;
    bool loops;             // the end block has the loop flag
    bool loopValid;         // the loop address is a block of the sample
};

// Every entry of the page at `page` that names a sample, in entry order.
std::vector<DirectoryEntry> ReadDirectory(MemoryChains& chains, std::uint32_t page);

// The directory: `requested` (a page address) when it is one, else the
// register's page when its entries name samples as a directory's do (and no
// page is clearly a better directory), else the page found by the search;
// -1 for none. registerPage is -1 without a dump.
std::int32_t ChooseDirectory(MemoryChains& chains, std::int32_t requested, std::int32_t registerPage);

// The finds of the directory at `page`, one per entry, in order of offset
// (entries in their order where they share a start); memoryOffset is where
// the image starts in the data.
std::vector<BRRFound> DirectoryFinds(MemoryChains& chains, std::uint64_t memoryOffset, std::uint32_t page);

}  // namespace scan
}  // namespace vornish

#endif
