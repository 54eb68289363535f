// brrdecode's own parts: its options, where each WAV goes, the outputs it
// must not touch, and cleaning up after a signal. The conversion itself is
// the library's.
#ifndef BRRDECODE_H
#define BRRDECODE_H

#include <cstdio>
#include <string>
#include <vector>

#include "VornishAudioBRRFile.h"
#include "shell.h"

namespace brrdecode {

using namespace shell;

struct Options : ShellOptions {
    BRRConvertOptions convert{};
    // The option that set the output's rate or the playback (--rate, --pitch,
    // --play, --play-rate): any two of them exclude each other.
    const char* rateBy = nullptr;
};

// Parses the command line into `options`; false after the usage message.
bool ParseArguments(int argc, char** argv, Options& options);

// Converts one INPUT into `output` ("-": standard output); true when its WAV
// was written.
bool ConvertOne(const Options& options, const char* inputArg, const std::string& output,
                bool announce, std::vector<Written>& written);

}  // namespace brrdecode

#endif
