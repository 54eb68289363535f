// brrinsert's own parts: its options, and one sample put back into one
// image. The placement itself is the library's (BRRInsert).
#ifndef BRRINSERT_H
#define BRRINSERT_H

#include <cstdint>
#include <string>
#include <vector>

#include "VornishAudioBRR.h"
#include "shell.h"

namespace brrinsert {

using namespace shell;

struct Options : ShellOptions {
    BRRInsertOptions insert{};
    std::vector<BRRMemoryRange> free;  // --free, in order
    bool inPlace = false;
    bool dryRun = false;
    const char* image = nullptr;
    const char* sample = nullptr;
};

// Parses the command line into `options`; false after the usage message.
bool ParseArguments(int argc, char** argv, Options& options);

// Reads IMAGE and SAMPLE, puts the sample in and writes the new image (to
// -o, or over IMAGE with --in-place), reporting what it did. True on success.
bool InsertOne(const Options& options);

}  // namespace brrinsert

#endif
