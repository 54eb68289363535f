// brrencode's own parts: its options, and reading any audio file into one
// channel of doubles with its loop, which the shaping library shapes.
#ifndef BRRENCODE_H
#define BRRENCODE_H

#include <cstdint>
#include <string>
#include <vector>

#include "VornishAudioBRR.h"
#include "VornishAudioBRRShape.h"
#include "shell.h"

namespace brrencode {

using namespace shell;

struct Options : ShellOptions {
    std::uint32_t rate = 0;   // 0: the input's
    std::uint32_t channel = 0;  // 1-based; 0: mix them all
    bool noLoop = false;
    // --loop START:END, END exclusive: in input samples, or (where the
    // seconds flag is set) in seconds of the input, turned into samples
    // once its rate is known.
    double loopStart = -1;
    double loopEnd = -1;
    bool loopStartSeconds = false;
    bool loopEndSeconds = false;
    bool loopAuto = false;  // --loop auto: found in the audio
    int loopFit = BRR_LOOP_FIT_AUTO;
    bool trebleBoost = false;
    bool noLoopHeader = false;    // --no-loop-header: plain blocks, even for a loop
    bool askedLoopHeader = false;  // --loop-header: a loop that no header holds is an error
    std::int32_t rootNote = -1;   // --root-note, MIDI; -1: the input's, if it names one
    std::uint64_t maxBytes = 0;   // --max-bytes: the largest output (0: no limit)
    BRREncodeOptions encode{};
};

bool ParseArguments(int argc, char** argv, Options& options);

// One channel of an input file, in 16-bit units (full scale 32768).
struct Signal {
    std::vector<double> samples;
    double rate = 0;
    std::int64_t loopStart = -1;  // the loop, END exclusive; -1: none
    std::int64_t loopEnd = -1;
    double rootNote = -1;  // MIDI, with the detune; -1: the input names none
    std::uint64_t beyond = 0;  // the input's own samples beyond full scale
    bool loopFound = false;    // the loop is --loop auto's
};

// Reads `descriptor` (named `name` in messages) with libsndfile: mixed to
// mono or the chosen channel, with its loop (the file's, --loop's, or the
// one --loop auto finds). False after the error line.
bool ReadSignal(int descriptor, const std::string& name, const Options& options, Signal& signal);

// Encodes one INPUT into `output` ("-": standard output); true when written.
bool EncodeOne(const Options& options, const char* inputArg, const std::string& output, bool announce,
               std::vector<Written>& written);

}  // namespace brrencode

#endif
