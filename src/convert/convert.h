// Conversion entry: one BRR file in, one WAV file out, with the console lines
// and status codes of the library. Used by the exported BRRDecode and directly
// by the command-line tool.
#ifndef VORNISH_CONVERT_H
#define VORNISH_CONVERT_H

#include <cstdint>
#include <cstdio>

namespace vornish {

// Returned when the input cannot be opened (or is not a regular file) and when
// the output cannot be opened, after the error line has been printed. The
// exported function ends the process on these; the tool goes on.
constexpr std::int32_t kStatusInputOpenFailed = -1;
constexpr std::int32_t kStatusOutputOpenFailed = -2;

// Returned, after its error line, for a loop count outside 1..kMaxLoopCount.
// The exported function always decodes once and never sees it.
constexpr std::int32_t kStatusBadLoopCount = 8;

constexpr std::uint32_t kDefaultSampleRate = 8000;
constexpr std::uint32_t kMaxLoopCount = 3200;

// Converts the file at `inputPath` into a WAV at `outputPath`, decoding the
// whole input `loopCount` times in a row (1..kMaxLoopCount) with the decoder
// history carried from one pass into the next, and writing `sampleRate` into
// the header. Paths are in the narrow form the platform's fopen expects.
// Returns one of the BRR_STATUS_* codes or kStatus*OpenFailed.
std::int32_t BRRConvertFile(const char* inputPath, const char* outputPath,
                            std::uint32_t loopCount, std::uint32_t sampleRate);

// The conversion from an input already opened and measured onwards. Takes
// ownership of `input` and closes it. `inputSize` is the size in bytes the
// input is expected to hold.
std::int32_t BRRConvertStream(std::FILE* input, std::uint64_t inputSize, const char* inputPath,
                              const char* outputPath, std::uint32_t loopCount,
                              std::uint32_t sampleRate);

}  // namespace vornish

#endif
