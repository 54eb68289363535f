// WAV writer: a 44-byte RIFF/WAVE header for 16-bit mono PCM, then the samples.
#ifndef VORNISH_WAV_WRITER_H
#define VORNISH_WAV_WRITER_H

#include <cstdint>
#include <cstdio>

namespace vornish {

constexpr std::size_t kWavHeaderSize = 44;

// Largest block count whose WAV sizes (32 * N data bytes, 32 * N + 36 RIFF
// size) fit the header's unsigned 32-bit fields.
constexpr std::uint64_t kWavMaxBlockCount = (0xFFFFFFFFull - 36u) / 32u;

// Fills `header` for `blockCount` blocks (16 samples each) at `sampleRate` Hz.
// `blockCount` must not exceed kWavMaxBlockCount.
void MakeWavHeader(std::uint8_t header[kWavHeaderSize], std::uint32_t sampleRate,
                   std::uint32_t blockCount);

// Writes the header, then the 16 * blockCount samples as little-endian 16-bit
// values, to `file` (opened in binary mode; not closed here). Returns false if
// any write came up short.
bool WriteWav(std::FILE* file, std::uint32_t sampleRate, const std::int16_t* samples,
              std::uint32_t blockCount);

}  // namespace vornish

#endif
