// WAV writer: the bytes of a 16-bit mono PCM RIFF/WAVE file, built in memory
// piece by piece so that the conversion can stream them: the header, then the
// samples chunk by chunk, then (for a looping sample) a `smpl` chunk.
#ifndef VORNISH_WAV_WRITER_H
#define VORNISH_WAV_WRITER_H

#include <cstddef>
#include <cstdint>

namespace vornish {

constexpr std::size_t kWavHeaderSize = 44;
constexpr std::size_t kSmplChunkSize = 68;

// Largest block count whose WAV sizes (32 * N data bytes, 32 * N + 36 RIFF
// size, plus any chunk after the data) fit the header's unsigned 32-bit
// fields.
constexpr std::uint64_t WavMaxBlockCount(std::uint64_t trailingBytes)
{
    return (0xFFFFFFFFull - 36u - trailingBytes) / 32u;
}

// Fills `header` for `dataBytes` of samples at `sampleRate` Hz, with
// `trailingBytes` of further chunks after the samples counted in the RIFF
// size. The sizes must fit (see WavMaxBlockCount).
void MakeWavHeader(std::uint8_t header[kWavHeaderSize], std::uint32_t sampleRate,
                   std::uint32_t dataBytes, std::uint32_t trailingBytes);

// Fills a `smpl` chunk with one forward loop from sample `loopStart` to sample
// `loopEnd` (inclusive), played forever, at MIDI `unityNote` plus
// `pitchFraction` / 2^32 of a semitone.
void MakeSmplChunk(std::uint8_t chunk[kSmplChunkSize], std::uint32_t sampleRate,
                   std::uint32_t loopStart, std::uint32_t loopEnd, std::uint32_t unityNote,
                   std::uint32_t pitchFraction);

// Rewrites `count` samples in place as little-endian byte pairs, the order a
// WAV file holds them in (nothing to do on a little-endian host).
void StoreSamplesLittleEndian(std::int16_t* samples, std::size_t count);

}  // namespace vornish

#endif
