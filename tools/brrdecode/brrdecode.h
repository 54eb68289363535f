// brrdecode's own parts: its options, where each WAV goes, the outputs it
// must not touch, and cleaning up after a signal. The conversion itself is
// the library's.
#ifndef BRRDECODE_H
#define BRRDECODE_H

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "VornishAudioBRRFile.h"

namespace brrdecode {

struct Options {
    std::vector<const char*> inputs;
    const char* output = nullptr;
    const char* outputDir = nullptr;
    bool force = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    BRRConvertOptions convert{};
    // Where progress and reports go (nullptr: nowhere); errors always go to
    // standard error.
    std::FILE* progress = stdout;
};

// Parses the command line into `options`; false after the usage message.
bool ParseArguments(int argc, char** argv, Options& options);

extern const char kStandardInput[];
extern const char kStandardOutput[];

bool IsStandardStream(const char* name);

// Prints to standard error after flushing standard output, so that the lines
// keep their order in one pipe.
void PrintError(const char* format, ...);
// "brrdecode: NAME: REASON".
void PrintFailure(const std::string& name, const char* reason);
// Prints to `stream` (nothing when it is null) and flushes it.
void PrintTo(std::FILE* stream, const char* format, ...);

// Where INPUT's WAV goes: "-" for standard output.
std::string OutputFor(const Options& options, const char* input);

// Standard input as a file the conversion can measure and reread: itself
// when it is a regular file, else a copy in an unnamed file in $TMPDIR (or
// /tmp), `*spool`, for the caller to close; no larger than the largest input
// that can convert. Returns the descriptor, or -1 after the error line.
int OpenStandardInput(int* spool);

// Whether `output` names the regular file INPUT reads (a hard or symbolic
// link to it included).
bool IsTheInput(const char* inputArg, const std::string& output);

// The outputs this run wrote, to refuse a second input that would replace
// one (a.brr and a.BRR, or two names of one file).
struct Written {
    dev_t device;
    ino_t inode;
    std::string input;
};
const Written* WrittenBefore(const std::vector<Written>& written, const std::string& output);

// Converts one INPUT into `output` ("-": standard output); true when its WAV
// was written.
bool ConvertOne(const Options& options, const char* inputArg, const std::string& output,
                bool announce, std::vector<Written>& written);

// Discards the output being written, if any, when SIGINT, SIGTERM or SIGHUP
// ends the process.
void CatchEndingSignals();
void ArmCleanup(const BRRFile& file);
void DisarmCleanup();

}  // namespace brrdecode

#endif
