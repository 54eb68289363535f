// One INPUT to one WAV: the library plans and renders; the tool says what it
// found, in the lines it has always printed, and applies its own rules to the
// output: never replace a file without -f, never write over the input, and
// leave nothing partial behind.
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>

#include "brrdecode.h"

namespace brrdecode {
namespace {

struct Names {
    std::string input;   // as shown: "standard input" for '-'
    std::string output;  // as shown: "standard output" for '-'
    const char* outputPath;
    bool toStandardOutput;
};

// The lines that come before the samples; false when the plan failed.
bool ReportPlan(const Options& options, const Names& names, int status, const BRRConvertResult& plan)
{
    const char* in = names.input.c_str();
    switch (status) {
    case BRR_STATUS_BAD_SIZE: PrintError("Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", in); return false;
    case BRR_STATUS_READ_ERROR: PrintError("Error : Can't read BRR file %s.\n", in); return false;
    case BRR_STATUS_NO_MEMORY: PrintError("Error : Not enough memory to decode %s.\n", in); return false;
    default: break;
    }
    if (plan.trailingBlocks > 0 && options.convert.stopAtEnd == 0) {
        PrintError("Warning : %s has %" PRIu64 " blocks after its end block; --stop-at-end leaves them out.\n",
                   in, plan.trailingBlocks);
    }
    if (plan.loopHeaderIgnored != 0) {
        PrintError("Warning : Loop header of %s points outside the sample; ignored.\n", in);
    }
    PrintTo(options.progress, "Number of BRR blocks to decode : %" PRIu64 ".\n", plan.blockCount);
    if (status == BRR_STATUS_NO_BLOCKS) {
        PrintError("Error : Loop position is out of range\n");
        return false;
    }
    if (status == BRR_STATUS_BAD_LOOP_START) {
        PrintError("Error : Loop start %" PRId64 " is outside %s (%" PRIu64 " blocks).\n",
                   options.convert.loopStart, in, plan.blockCount);
        return false;
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

// Opens the output: standard output as it is; a path exclusively unless -f,
// and never when it turns out to be the input. Empties a regular file.
bool OpenOutput(const Options& options, const Names& names, const BRRFile& input, BRRFile* output)
{
    if (names.toStandardOutput) {
        BRRFileAdopt(output, STDOUT_FILENO);
        return true;
    }
    const int error = BRRFileOpenOutput(output, names.outputPath, nullptr, options.force ? 0 : 1);
    if (error != 0) {
        PrintFailure(names.output, error == BRR_FILE_EXISTS ? "file exists (use -f to overwrite)"
                                                            : BRRFileErrorText(error));
        return false;
    }
    if (BRRFileIsSame(output, &input) != 0) {
        PrintFailure(names.output, ("is the input file " + names.input + " itself; choose another output").c_str());
        BRRFileClose(output);
        return false;
    }
    if (output->regular != 0 && BRRFileTruncate(output) != 0) {
        PrintError("Error : Can't write file %s.\n", names.output.c_str());
        BRRFileClose(output);
        BRRFileRemove(names.outputPath, nullptr, output);
        return false;
    }
    return true;
}

// Plans, opens the output and renders; true when the WAV was written whole.
bool Convert(const Options& options, const Names& names, BRRFile& input)
{
    BRRConvertResult plan;
    const int planned = BRRPlan(BRRFileRead, &input, input.size, &options.convert, &plan);
    BRRFile output;
    if (!ReportPlan(options, names, planned, plan) || !OpenOutput(options, names, input, &output)) {
        return false;
    }
    // Standard output is the caller's: written to, never closed or removed.
    const bool own = !names.toStandardOutput;
    if (own) {
        ArmCleanup(names.outputPath, output);
    }
    int status = BRRRenderToFile(BRRFileRead, &input, &options.convert, &output, &plan);
    if (own && BRRFileClose(&output) != 0 && status == BRR_OK) {
        status = BRR_STATUS_WRITE_ERROR;
    }
    if (own && status != BRR_OK) {
        BRRFileRemove(names.outputPath, nullptr, &output);
    }
    DisarmCleanup();
    if (status == BRR_STATUS_READ_ERROR) {
        PrintError("Error : Can't read BRR file %s.\n", names.input.c_str());
    } else if (status == BRR_STATUS_NO_MEMORY) {
        PrintError("Error : Not enough memory to decode %s.\n", names.input.c_str());
    } else if (status != BRR_OK) {
        PrintError("Error : Can't write file %s.\n", names.output.c_str());
    }
    if (status != BRR_OK) {
        return false;
    }
    ReportLoop(options, plan);
    PrintTo(options.progress, "Done !\n");
    return true;
}

// The checks that need no file opened: no WAV to a terminal, never the input,
// never an output this run already wrote.
bool MayWrite(const char* inputArg, const std::string& output, const Names& names,
              const std::vector<Written>& written)
{
    if (names.toStandardOutput) {
        if (::isatty(STDOUT_FILENO)) {
            PrintFailure(kStandardOutput, "is a terminal; WAV data is not written to a terminal "
                                          "(use -o FILE, or a pipe)");
            return false;
        }
        return true;
    }
    if (IsTheInput(inputArg, output)) {
        PrintFailure(output, ("is the input file " + names.input + " itself; choose another output").c_str());
        return false;
    }
    if (const Written* earlier = WrittenBefore(written, output)) {
        PrintFailure(output, ("was written from " + earlier->input + " in this run; not replaced by " +
                              names.input).c_str());
        return false;
    }
    return true;
}

}  // namespace

bool ConvertOne(const Options& options, const char* inputArg, const std::string& output,
                bool announce, std::vector<Written>& written)
{
    Names names;
    names.toStandardOutput = IsStandardStream(output.c_str());
    names.input = IsStandardStream(inputArg) ? kStandardInput : inputArg;
    names.output = names.toStandardOutput ? kStandardOutput : output;
    names.outputPath = output.c_str();
    if (announce) {
        PrintTo(options.progress, "%s -> %s\n", names.input.c_str(), names.output.c_str());
    }
    if (!MayWrite(inputArg, output, names, written)) {
        return false;
    }
    BRRFile input;
    std::FILE* spool = nullptr;
    bool done = false;
    if (IsStandardStream(inputArg)) {
        const int fd = OpenStandardInput(&spool);
        done = fd >= 0 && BRRFileAdopt(&input, fd) == 0 && Convert(options, names, input);
    } else if (const int error = BRRFileOpenInput(&input, inputArg, nullptr); error != 0) {
        PrintFailure(inputArg, BRRFileErrorText(error));
    } else {
        done = Convert(options, names, input);
        BRRFileClose(&input);
    }
    if (spool != nullptr) {
        std::fclose(spool);
    }
    struct stat st;
    if (done && !names.toStandardOutput && ::stat(output.c_str(), &st) == 0) {
        written.push_back(Written{st.st_dev, st.st_ino, names.input});
    }
    return done;
}

}  // namespace brrdecode
