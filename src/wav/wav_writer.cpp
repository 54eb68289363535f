// WAV writer.
//
//   offset  size  field                  value
//    0      4     chunk id               "RIFF"
//    4      4     RIFF size              32 * N + 36
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
//   40      4     data size              32 * N
//   44            16 * N samples, signed 16-bit little-endian
//
// All numbers are little-endian whatever the host's byte order.
#include "wav/wav_writer.h"

#include <cstdint>
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

bool WriteSamplesSwapped(std::FILE* file, const std::int16_t* samples, std::size_t count)
{
    std::uint8_t chunk[8192];
    constexpr std::size_t kChunkSamples = sizeof chunk / 2;
    while (count > 0) {
        const std::size_t n = count < kChunkSamples ? count : kChunkSamples;
        for (std::size_t i = 0; i < n; ++i) {
            PutLE16(chunk + 2 * i, static_cast<std::uint16_t>(samples[i]));
        }
        if (std::fwrite(chunk, 2, n, file) != n) {
            return false;
        }
        samples += n;
        count -= n;
    }
    return true;
}

}  // namespace

void MakeWavHeader(std::uint8_t header[kWavHeaderSize], std::uint32_t sampleRate,
                   std::uint32_t blockCount)
{
    const std::uint32_t dataSize = blockCount * 32u;
    PutTag(header + 0, "RIFF");
    PutLE32(header + 4, dataSize + 36u);
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

bool WriteWav(std::FILE* file, std::uint32_t sampleRate, const std::int16_t* samples,
              std::uint32_t blockCount)
{
    std::uint8_t header[kWavHeaderSize];
    MakeWavHeader(header, sampleRate, blockCount);
    if (std::fwrite(header, 1, kWavHeaderSize, file) != kWavHeaderSize) {
        return false;
    }
    std::size_t sampleCount = static_cast<std::size_t>(blockCount) * 16u;
    if (sampleCount == 0) {
        return true;
    }
    if (!HostIsLittleEndian()) {
        return WriteSamplesSwapped(file, samples, sampleCount);
    }
    if (SIZE_MAX > 0xFFFFFFFFu) {
        return std::fwrite(samples, 2, sampleCount, file) == sampleCount;
    }
    // A 32-bit host refuses a single write of 2 GiB or more: write at most
    // 1 GiB at a time there.
    constexpr std::size_t kMaxSamplesPerWrite = std::size_t{1} << 29;
    while (sampleCount > 0) {
        const std::size_t n = sampleCount < kMaxSamplesPerWrite ? sampleCount : kMaxSamplesPerWrite;
        if (std::fwrite(samples, 2, n, file) != n) {
            return false;
        }
        samples += n;
        sampleCount -= n;
    }
    return true;
}

}  // namespace vornish
