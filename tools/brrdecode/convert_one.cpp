// One INPUT to one WAV: the library plans and renders; the tool says what it
// found, in the lines it has always printed, and applies its own rules to the
// output: never replace a file without -f, never write over the input, and
// leave nothing partial behind.

#include <cerrno>
#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "brrdecode.h"

namespace brrdecode {
namespace {

// Whether the last block has the end flag (with no trailing blocks, no block
// before it has one either).
bool EndsInEndBlock(BRRFile& input, const BRRConvertResult& plan)
{
    std::uint8_t header = BRR_END_FLAG;  // a read that fails is reported by the render
    BRRFileRead(&input, plan.dataOffset + (plan.blockCount - 1) * BRR_BLOCK_SIZE, &header, 1);
    return (header & BRR_END_FLAG) != 0;
}

// The lines that come before the samples; false when the plan failed.
bool ReportPlan(const Options& options, const Names& names, BRRFile& input, int status,
                const BRRConvertResult& plan)
{
    const char* in = names.input.c_str();
    switch (status) {
    case BRR_STATUS_BAD_SIZE: PrintError("Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", in); return false;
    case BRR_STATUS_READ_ERROR: PrintFailure(names.input, BRRFileErrorText(input.error)); return false;
    case BRR_STATUS_NO_MEMORY: PrintError("Error : Not enough memory to decode %s.\n", in); return false;
    default: break;
    }
    // Blocks read behind a loop header that is none are not worth a warning.
    if (plan.trailingBlocks > 0 && options.convert.stopAtEnd == 0 && status != BRR_STATUS_BAD_LOOP_HEADER) {
        PrintError("Warning : %s has %" PRIu64 " blocks after its end block; --stop-at-end leaves them out.\n",
                   in, plan.trailingBlocks);
    }
    if (plan.unlooped != 0 && status == BRR_OK) {
        PrintError("Warning : %s does not loop (its end block has no loop flag); --loops repeats it whole.\n", in);
    } else if (status == BRR_OK && options.convert.loopCount > 1 && plan.loopStart < 0) {
        PrintError("Warning : %s loops but holds no loop start; the whole sample repeats. Use --loop-start S or "
                   "a file with a loop header.\n", in);
    }
    if (status == BRR_OK && plan.trailingBlocks == 0 && !EndsInEndBlock(input, plan)) {
        PrintError("Warning : %s has no end block (no block has the end flag); the sample may be cut short.\n",
                   in);
    }
    if (plan.extraBytes > 0) {
        PrintError("Warning : %s has %u bytes after its last block; ignored.\n", in, plan.extraBytes);
    }
    PrintTo(options.progress, "Number of BRR blocks to decode : %" PRIu64 ".\n", plan.blockCount);
    switch (status) {
    case BRR_STATUS_NO_BLOCKS: PrintError("Error : %s holds no block.\n", in); return false;
    case BRR_STATUS_BAD_LOOP_HEADER:
        PrintError("Error : Loop header of %s is not a block offset inside the sample; use --no-header if "
                   "the file has none, or --loop-start S.\n", in);
        return false;
    case BRR_STATUS_BAD_LOOP_START:
        PrintError("Error : Loop start %" PRId64 " is outside %s (%" PRIu64 " blocks).\n",
                   options.convert.loopStart, in, plan.blockCount);
        return false;
    default: break;
    }
    if (plan.loopStart >= 0) {
        PrintTo(options.progress, "Loop start : block %" PRId64 ".\n", plan.loopStart);
    }
    if (status == BRR_STATUS_TOO_LARGE) {
        PrintError("Error : BRR file %s is too large to convert.\n", in);
        return false;
    }
    return true;
}

void ReportLoop(const Options& options, BRRFile& input, const BRRConvertResult& result)
{
    if (result.note == BRR_NOTE_FOUND) {
        PrintTo(options.progress, " (probable note : %s%d %+d cents)\n", BRRNoteName(result.noteIndex),
                result.noteOctave, result.noteCents);
    } else if (result.note == BRR_NOTE_TOO_LONG) {
        PrintTo(options.progress, "\n");
    }
    // Several passes over a loop: how smoothly it joins, as brrencode says it.
    double seam = 0;
    if (options.convert.loopCount > 1 && result.loopStart >= 0 &&
        BRRLoopSeamOfBlocks(BRRFileRead, &input, result.dataOffset, result.blockCount, result.loopStart,
                            options.convert.rules, &seam) == BRR_OK) {
        PrintTo(options.progress, "Loop seam : %.2f dB.\n", seam);
    }
    if (result.stability == BRR_STABILITY_STABLE) {
        PrintTo(options.progress, "Looping is stable.\n");
    } else if (result.stability == BRR_STABILITY_REPEATS) {
        PrintTo(options.progress, "Looping is unstable, samples repeat from loop %u to loop %u.\n",
                result.repeatLater, result.repeatEarlier);
    } else if (result.stability == BRR_STABILITY_UNDECIDED) {
        PrintTo(options.progress, "Looping is unstable, try a larger number of loops to figure the "
                                  "length until the sample repeats.\n");
    }
}

// The kind of audio file whose signature begins `input`, or null: such a
// file is what brrencode takes, not blocks.
const char* AudioKind(BRRFile& input)
{
    std::uint8_t head[12];
    if (input.size < sizeof head || BRRFileRead(&input, 0, head, sizeof head) != 0) {
        return nullptr;
    }
    const auto is = [&](std::size_t at, const char* tag) { return std::memcmp(head + at, tag, 4) == 0; };
    if ((is(0, "RIFF") || is(0, "RF64")) && is(8, "WAVE")) {
        return "WAV";
    }
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
        return "AIFF";
    }
    return is(0, "fLaC") ? "FLAC" : nullptr;
}

// The input read through the tool, which counts the bytes for the progress line.
struct CountedInput {
    BRRFile* file;
    ProgressLine* progress;
    std::uint64_t read;
    std::uint64_t total;
};

int ReadCounted(void* context, std::uint64_t offset, void* buffer, std::size_t size)
{
    auto* c = static_cast<CountedInput*>(context);
    c->read += size;
    c->progress->Update(std::min(c->read, c->total), c->total);
    return BRRFileRead(c->file, offset, buffer, size);
}

// Plans, opens the output, renders and puts the output in place; true when
// the WAV was written whole. An input refused, or an output refused, gets
// its error line alone.
bool Convert(const Options& options, const Names& names, BRRFile& input)
{
    if (const char* kind = AudioKind(input)) {
        PrintError("Error : %s is a %s audio file, not BRR blocks; brrencode encodes it.\n", names.input.c_str(),
                   kind);
        return false;
    }
    BRRConvertResult plan;
    const int planned = BRRPlan(BRRFileRead, &input, input.size, &options.convert, &plan);
    BRRFile output;
    if ((planned != BRR_OK && !ReportPlan(options, names, input, planned, plan)) ||
        !OpenOutput(options.force, names, input, "WAV", &output)) {
        return false;
    }
    if (planned == BRR_OK) {
        ReportPlan(options, names, input, planned, plan);
    }
    // Standard output is the caller's: written to, never closed or replaced.
    const bool own = !names.toStandardOutput;
    if (own) {
        ArmCleanup(output);
    }
    ProgressLine progress(options, names.input);
    CountedInput counted{&input, &progress, 0, plan.dataOffset + plan.totalBlocks * BRR_BLOCK_SIZE};
    const int status = BRRRenderToFile(ReadCounted, &counted, &options.convert, &output, &plan);
    progress.Clear();
    const int writeError = output.error;
    const int placed = own ? FinishOutput(&output, status == BRR_OK) : 0;
    if (status == BRR_STATUS_READ_ERROR) {
        PrintFailure(names.input, BRRFileErrorText(input.error));
    } else if (status == BRR_STATUS_NO_MEMORY) {
        PrintError("Error : Not enough memory to decode %s.\n", names.input.c_str());
    } else if (status != BRR_OK || placed != 0) {
        const int error = status != BRR_OK ? writeError : placed;
        PrintFailure(names.output, error == BRR_FILE_EXISTS ? "file exists (use -f to overwrite)"
                                                            : BRRFileErrorText(error != 0 ? error : EIO));
    }
    if (status != BRR_OK || placed != 0) {
        return false;
    }
    ReportLoop(options, input, plan);
    PrintTo(options.progress, "Done !\n");
    return true;
}

}  // namespace

bool ConvertOne(const Options& options, const char* inputArg, const std::string& output,
                bool announce, std::vector<Written>& written)
{
    static const StandardInputRules kRules = {"BRR", BRR_MAX_INPUT_SIZE,
                                              "Error : BRR file %s is too large to convert.\n"};
    return RunOne(options, inputArg, output, announce, kRules, written,
                  [&](const Names& names, BRRFile& input) { return Convert(options, names, input); });
}

}  // namespace brrdecode
