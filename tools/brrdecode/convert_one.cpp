// One INPUT to one WAV: the library plans and renders; the tool says what it
// found, in the lines it has always printed, and applies its own rules to the
// output: never replace a file without -f, never write over the input, and
// leave nothing partial behind.

#include <cerrno>
#include <cinttypes>

#include "brrdecode.h"

namespace brrdecode {
namespace {

// The lines that come before the samples; false when the plan failed.
bool ReportPlan(const Options& options, const Names& names, const BRRFile& input, int status,
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

void ReportLoop(const Options& options, const BRRConvertResult& result)
{
    if (result.note == BRR_NOTE_FOUND) {
        PrintTo(options.progress, " (probable note : %s%d %+d cents)\n", BRRNoteName(result.noteIndex),
                result.noteOctave, result.noteCents);
    } else if (result.note == BRR_NOTE_TOO_LONG) {
        PrintTo(options.progress, "\n");
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

// Plans, opens the output, renders and puts the output in place; true when
// the WAV was written whole.
bool Convert(const Options& options, const Names& names, BRRFile& input)
{
    BRRConvertResult plan;
    const int planned = BRRPlan(BRRFileRead, &input, input.size, &options.convert, &plan);
    BRRFile output;
    if (!ReportPlan(options, names, input, planned, plan) || !OpenOutput(options.force, names, input, "WAV", &output)) {
        return false;
    }
    // Standard output is the caller's: written to, never closed or replaced.
    const bool own = !names.toStandardOutput;
    if (own) {
        ArmCleanup(output);
    }
    const int status = BRRRenderToFile(BRRFileRead, &input, &options.convert, &output, &plan);
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
    ReportLoop(options, plan);
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
