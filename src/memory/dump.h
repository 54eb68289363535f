// A music-state dump's header and the chip's registers it holds.
#ifndef VORNISH_MEMORY_DUMP_H
#define VORNISH_MEMORY_DUMP_H

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRR.h"

namespace vornish {
namespace memory {

bool IsDump(const std::uint8_t* data, std::size_t size);

// Where the memory image is when the caller leaves it to the library: all
// of 64 KiB of data, or a dump's; -1: none.
std::int64_t MemoryImageOf(const std::uint8_t* data, std::size_t size);

// Everything but directoryNamesSamples, from a dump (IsDump).
void ReadRegisters(const std::uint8_t* data, BRRDump& dump);

// Whether [start, start + bytes) of memory overlaps the dump's echo buffer.
bool InEcho(const BRRDump& dump, std::uint64_t start, std::uint64_t bytes);

// Whether [start, start + bytes) overlaps [from, from + length) of memory,
// which wraps at 0x10000.
bool OverlapsWrapping(std::uint64_t start, std::uint64_t bytes, std::uint64_t from, std::uint64_t length);

}  // namespace memory
}  // namespace vornish

#endif
