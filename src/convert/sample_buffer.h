// The memory that holds every decoded sample of one conversion.
#ifndef VORNISH_SAMPLE_BUFFER_H
#define VORNISH_SAMPLE_BUFFER_H

#include <cstdint>

namespace vornish {

// Room for `bytes` bytes of samples, not zero-filled; nullptr when it cannot
// be had (including sizes this process cannot address).
std::int16_t* AllocateSamples(std::uint64_t bytes);

// Releases what AllocateSamples returned for the same `bytes`.
void FreeSamples(std::int16_t* samples, std::uint64_t bytes);

}  // namespace vornish

#endif
