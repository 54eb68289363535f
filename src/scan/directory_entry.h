// How one directory entry is judged: the chain each address starts, its
// score judged once, and whether an entry's start and loop name a sample.
#ifndef VORNISH_SCAN_DIRECTORY_ENTRY_H
#define VORNISH_SCAN_DIRECTORY_ENTRY_H

#include <cstdint>

#include "VornishAudioBRR.h"
#include "scan/directory.h"

namespace vornish {
namespace scan {

constexpr std::uint32_t kMemory = BRR_MEMORY_IMAGE_SIZE;
constexpr std::uint32_t kEntries = 256;

// Tables of a type of this library's own, so that no container
// instantiation of the standard library's leaves the shared library.
struct DirectoryTables {
    std::uint16_t blocks[kMemory];  // chain length from each address, 0: no end inside
    float scores[kMemory];          // start -> its chain's score, once judged
    std::uint64_t judged[kMemory / 64];  // which starts are (scores is left unwritten until then)
    std::uint32_t sum[kMemory / 4 + 1];
};

namespace entry {

inline std::uint32_t Word(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }

// The score of the chain at `start`, judged on first use.
float Score(MemoryChains& image, std::uint32_t start);

// `loop` is one of the blocks of the chain at `start`.
bool LoopInside(const MemoryChains& image, std::uint32_t start, std::uint32_t loop);

// Where a sample starts in a bank: right after another's end block, past
// zero padding, or at the bottom of memory. A search among all pages takes
// zeros before a start only where the sample does not begin with zeros.
bool AtBoundary(const MemoryChains& image, std::uint32_t start, bool searching = false);

// An entry that names a sample, judged while `finding` the directory or
// once it is known.
bool Plausible(MemoryChains& image, std::uint32_t start, std::uint32_t loop, bool finding);

// Once the directory is known, an entry whose loop address is no block of
// its chain (players never read it where the sample does not loop) names a
// sample when its blocks are ones an encoder makes: among the entries that
// name one by their loop, or after them when its chain looks like audio.
bool NamesSample(MemoryChains& image, std::uint32_t start, std::uint32_t loop, bool amongOthers);

}  // namespace entry
}  // namespace scan
}  // namespace vornish

#endif
