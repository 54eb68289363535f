// Conversion entry: one BRR file in, one WAV file out, with the console lines
// and status codes of the library. The exported BRRDecode runs it with the
// default options; the command-line tool sets the options it offers.
#ifndef VORNISH_CONVERT_H
#define VORNISH_CONVERT_H

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "convert/file_access.h"

namespace vornish {

// Returned when the input cannot be opened (or is not a regular file) and when
// the output cannot be opened, after the error line has been printed. The
// exported function ends the process on these; the tool goes on.
constexpr std::int32_t kStatusInputOpenFailed = -1;
constexpr std::int32_t kStatusOutputOpenFailed = -2;

// Returned, after its error line, for options only the tool can give: a loop
// count outside 1..kMaxLoopCount, a loop start outside the sample.
constexpr std::int32_t kStatusBadLoopCount = 8;
constexpr std::int32_t kStatusBadLoopStart = 9;

constexpr std::uint32_t kDefaultSampleRate = 8000;
constexpr std::uint32_t kMaxLoopCount = 3200;
constexpr std::int64_t kNoLoopStart = -1;

// The output being written, for a signal handler that must remove it: `armed`
// is set while `path` names a regular file of this conversion's making.
struct ActiveOutput {
    FilePath path;
    FileIdentity identity;
    volatile std::sig_atomic_t armed = 0;
};

struct ConvertOptions {
    // Passes over the sample (1..kMaxLoopCount), the decoder history carried
    // from one into the next; and the rate written into the WAV.
    std::uint32_t loopCount = 1;
    std::uint32_t sampleRate = kDefaultSampleRate;
    // Where progress and reports go; nullptr prints none. Errors and warnings
    // always go to standard error.
    std::FILE* progress = stdout;

    // The tool's alone; the exported function keeps every default.
    // Open failures as "brrdecode: PATH: REASON" instead of the library's lines.
    bool toolMessages = false;
    // Samples as they are found: a 2-byte loop header (size 2 more than a
    // multiple of 9), the end and loop flags, the `smpl` chunk.
    bool sampleForms = false;
    bool noHeader = false;
    bool stopAtEnd = false;
    bool writeSmpl = true;
    std::int64_t loopStart = kNoLoopStart;
    // An existing regular output is refused unless `replaceOutput`; an output
    // that is the input itself is refused with `refuseInputAsOutput`,
    // otherwise the input is read whole before the output is truncated.
    bool replaceOutput = true;
    bool refuseInputAsOutput = false;
    ActiveOutput* active = nullptr;
    // Blocks per working-buffer chunk (0: the default); a test seam.
    std::size_t chunkBlocks = 0;
};

// Converts `input` into a WAV at `output`. A FilePath with an open `fd`
// (standard input or output) is used as it is and not closed. Returns one of
// the BRR_STATUS_* codes or kStatus*.
std::int32_t BRRConvert(const FilePath& input, const FilePath& output,
                        const ConvertOptions& options);

// Prints to `stream` (nothing when it is null) and flushes it, so that
// progress keeps its order with the error lines.
void PrintTo(std::FILE* stream, const char* format, ...);

// The same with narrow paths.
std::int32_t BRRConvertFile(const char* inputPath, const char* outputPath,
                            const ConvertOptions& options = ConvertOptions());

}  // namespace vornish

#endif
