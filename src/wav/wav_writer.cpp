// WAV writer.
//
//   offset  size  field                  value
//    0      4     chunk id               "RIFF"
//    4      4     RIFF size              data size + 36 (+ 68 with a smpl chunk)
//    8      4     form type              "WAVE"
//   12      4     chunk id               "fmt "
//   16      4     format chunk size      16
//   20      2     audio format           1 (PCM)
//   22      2     channels               1
//   24      4     sample rate            rate
//   28      4     byte rate              2 * rate
//   32      2     block align            2
//   34      2     bits per sample        16
//   36      4     chunk id               "data"
//   40      4     data size              2 * samples (32 * N for N blocks)
//   44            the samples, signed 16-bit little-endian
//
// The optional `smpl` chunk that follows the samples (all fields 32-bit):
//
//   "smpl", size 60, manufacturer 0, product 0, sample period (ns),
//   MIDI unity note, pitch fraction, SMPTE format 0, SMPTE offset 0,
//   loop count 1, sampler data 0, then the loop: cue id 0, type 0 (forward),
//   start, end (inclusive), fraction 0, play count 0 (forever).
//
// All numbers are little-endian whatever the host's byte order.
#include "wav/wav_writer.h"

#include <cstring>

namespace vornish {
namespace {

void PutTag(std::uint8_t* at, const char tag[4]) { std::memcpy(at, tag, 4); }

void PutLE16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8u);
}

void PutLE32(std::uint8_t* at, std::uint32_t value)
{
    PutLE16(at, value & 0xFFFFu);
    PutLE16(at + 2, value >> 16u);
}

bool HostIsLittleEndian()
{
    const std::uint16_t probe = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

}  // namespace

void MakeWavHeader(std::uint8_t header[kWavHeaderSize], std::uint32_t sampleRate,
                   std::uint32_t dataSize, std::uint32_t trailingBytes)
{
    PutTag(header + 0, "RIFF");
    PutLE32(header + 4, dataSize + 36u + trailingBytes);
    PutTag(header + 8, "WAVE");
    PutTag(header + 12, "fmt ");
    PutLE32(header + 16, 16);
    PutLE16(header + 20, 1);
    PutLE16(header + 22, 1);
    PutLE32(header + 24, sampleRate);
    PutLE32(header + 28, sampleRate * 2u);
    PutLE16(header + 32, 2);
    PutLE16(header + 34, 16);
    PutTag(header + 36, "data");
    PutLE32(header + 40, dataSize);
}

void MakeSmplChunk(std::uint8_t chunk[kSmplChunkSize], std::uint32_t sampleRate,
                   std::uint32_t loopStart, std::uint32_t loopEnd, std::uint32_t unityNote,
                   std::uint32_t pitchFraction)
{
    const std::uint32_t period =
        sampleRate == 0 ? 0
                        : static_cast<std::uint32_t>((1000000000ull + sampleRate / 2) / sampleRate);
    const std::uint32_t fields[] = {60, 0, 0, period, unityNote, pitchFraction, 0, 0, 1, 0,
                                    0,  0, loopStart, loopEnd, 0, 0};
    PutTag(chunk, "smpl");
    for (std::size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) {
        PutLE32(chunk + 4 + 4 * i, fields[i]);
    }
}

void StoreSamplesLittleEndian(std::int16_t* samples, std::size_t count)
{
    if (HostIsLittleEndian()) {
        return;
    }
    auto* bytes = reinterpret_cast<std::uint8_t*>(samples);
    for (std::size_t i = 0; i < count; ++i) {
        PutLE16(bytes + 2 * i, static_cast<std::uint16_t>(samples[i]));
    }
}

}  // namespace vornish
