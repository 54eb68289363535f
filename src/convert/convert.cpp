// Conversion entry.
//
// Order of events for one conversion (nothing is created on the early paths):
//   open the input (must be a regular file), measure it, check the size is a
//   multiple of 9, print the block count, check there is a block and that the
//   WAV sizes fit 32 bits, allocate the sample buffer, decode the whole input
//   loopCount times into it, print the loop reports, close the input, then
//   open, write and close the output and print "Done !".
#include "convert/convert.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>

#include "VornishAudioBRRDecoder.h"
#include "brr/brr_decoder.h"
#include "convert/file_access.h"
#include "convert/sample_buffer.h"
#include "report/loop_reports.h"
#include "wav/wav_writer.h"

namespace vornish {
namespace {

// Blocks read from the input at a time.
constexpr std::size_t kReadChunkBlocks = 16384;

// Progress lines are flushed at once, so that they keep their order with the
// error lines and reach the console even if the host's runtime buffers its
// own standard output separately.
void PrintOut(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

void PrintErr(const char* format, ...)
{
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

// Decodes the whole input `loopCount` times into `samples`, rereading it from
// its start for every pass through `chunk` (room for kReadChunkBlocks blocks).
// The history is cleared once, before the first pass, and carried over between
// passes. False if a read fails or comes up short.
bool DecodeInput(std::FILE* input, std::uint64_t blockCount, std::uint32_t loopCount,
                 std::uint8_t* chunk, std::int16_t* samples)
{
    BRRHistory history{0, 0};
    bool ok = true;
    std::int16_t* out = samples;
    for (std::uint32_t loop = 0; ok && loop < loopCount; ++loop) {
        ok = RewindFile(input);
        std::uint64_t remaining = blockCount;
        while (ok && remaining > 0) {
            const std::size_t n = remaining < kReadChunkBlocks ? static_cast<std::size_t>(remaining)
                                                               : kReadChunkBlocks;
            ok = std::fread(chunk, kBRRBlockSize, n, input) == n;
            if (ok) {
                BRRDecodeBlocks(history, chunk, n, out);
                out += n * kBRRSamplesPerBlock;
                remaining -= n;
            }
        }
    }
    return ok;
}

bool LoopCountInRange(std::uint32_t loopCount)
{
    if (loopCount >= 1 && loopCount <= kMaxLoopCount) {
        return true;
    }
    PrintErr("Error : Loop count %u is out of range (1 to %u).\n", loopCount, kMaxLoopCount);
    return false;
}

// The first two samples of every pass, for the loop-stability report.
struct LoopStartRecord {
    std::int16_t firsts[kMaxLoopCount];
    std::int16_t seconds[kMaxLoopCount];
};

}  // namespace

std::int32_t BRRConvertFile(const char* inputPath, const char* outputPath,
                            std::uint32_t loopCount, std::uint32_t sampleRate)
{
    if (inputPath == nullptr || outputPath == nullptr) {
        PrintErr("Error : Missing file path.\n");
        return BRR_STATUS_MISSING_PATH;
    }
    if (!LoopCountInRange(loopCount)) {
        return kStatusBadLoopCount;
    }
    std::uint64_t inputSize = 0;
    std::FILE* input = OpenRegularFileForReading(inputPath, &inputSize);
    if (input == nullptr) {
        PrintErr("No such file : %s\n", inputPath);
        return kStatusInputOpenFailed;
    }
    return BRRConvertStream(input, inputSize, inputPath, outputPath, loopCount, sampleRate);
}

std::int32_t BRRConvertStream(std::FILE* input, std::uint64_t inputSize, const char* inputPath,
                              const char* outputPath, std::uint32_t loopCount,
                              std::uint32_t sampleRate)
{
    if (!LoopCountInRange(loopCount)) {
        std::fclose(input);
        return kStatusBadLoopCount;
    }
    if (inputSize % kBRRBlockSize != 0) {
        PrintErr("Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", inputPath);
        std::fclose(input);
        return BRR_STATUS_BAD_SIZE;
    }
    const std::uint64_t blockCount = inputSize / kBRRBlockSize;
    PrintOut("Number of BRR blocks to decode : %" PRIu64 ".\n", blockCount);
    if (blockCount == 0) {
        PrintErr("Error : Loop position is out of range\n");
        std::fclose(input);
        return BRR_STATUS_NO_BLOCKS;
    }
    // blockCount is checked alone first so that the product cannot overflow.
    if (blockCount > kWavMaxBlockCount || blockCount * loopCount > kWavMaxBlockCount) {
        PrintErr("Error : BRR file %s is too large to convert.\n", inputPath);
        std::fclose(input);
        return BRR_STATUS_TOO_LARGE;
    }
    const std::uint64_t totalBlocks = blockCount * loopCount;
    const std::uint64_t bufferBytes = totalBlocks * kBRRSamplesPerBlock * sizeof(std::int16_t);
    // Not zero-filled: every sample is decoded over before it is read.
    std::int16_t* samples = AllocateSamples(bufferBytes);
    std::uint8_t* chunk = static_cast<std::uint8_t*>(std::malloc(kReadChunkBlocks * kBRRBlockSize));
    if (samples == nullptr || chunk == nullptr) {
        PrintErr("Error : Not enough memory to decode %s.\n", inputPath);
        std::free(chunk);
        FreeSamples(samples, bufferBytes);
        std::fclose(input);
        return BRR_STATUS_NO_MEMORY;
    }
    const bool decoded = DecodeInput(input, blockCount, loopCount, chunk, samples);
    std::free(chunk);
    if (!decoded) {
        PrintErr("Error : Can't read BRR file %s.\n", inputPath);
        FreeSamples(samples, bufferBytes);
        std::fclose(input);
        return BRR_STATUS_READ_ERROR;
    }
    LoopStartRecord record;
    const std::size_t loopSamples = static_cast<std::size_t>(blockCount) * kBRRSamplesPerBlock;
    for (std::uint32_t loop = 0; loop < loopCount; ++loop) {
        record.firsts[loop] = samples[loop * loopSamples];
        record.seconds[loop] = samples[loop * loopSamples + 1];
    }
    if (loopCount > 1) {
        ReportProbableNote(static_cast<std::uint32_t>(blockCount), sampleRate);
    }
    ReportLoopStability(loopCount, record.firsts, record.seconds);
    std::fflush(stdout);
    std::fclose(input);

    std::FILE* output = std::fopen(outputPath, "wb");
    if (output == nullptr) {
        PrintErr("Can't open file %s for writing.\n", outputPath);
        FreeSamples(samples, bufferBytes);
        return kStatusOutputOpenFailed;
    }
    const OutputIdentity identity = IdentifyOpenFile(output);
    bool written = WriteWav(output, sampleRate, samples, static_cast<std::uint32_t>(totalBlocks));
    written = std::fflush(output) == 0 && written;
    written = std::fclose(output) == 0 && written;
    FreeSamples(samples, bufferBytes);
    if (!written) {
        RemovePartialOutput(outputPath, identity);
        PrintErr("Error : Can't write file %s.\n", outputPath);
        return BRR_STATUS_WRITE_ERROR;
    }
    PrintOut("Done !\n");
    return BRR_STATUS_DONE;
}

}  // namespace vornish
