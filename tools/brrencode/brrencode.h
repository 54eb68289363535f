// brrencode's own parts: its options, reading any audio file into one
// channel of doubles, and shaping that signal (rate, loop, treble boost)
// into the 16-bit samples the library encodes.
#ifndef BRRENCODE_H
#define BRRENCODE_H

#include <cstdint>
#include <string>
#include <vector>

#include "VornishAudioBRR.h"
#include "shell.h"

namespace brrencode {

using namespace shell;

enum class LoopFit { kAuto, kResample, kRepeat };

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
    LoopFit loopFit = LoopFit::kAuto;
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
};

// Reads `descriptor` (named `name` in messages) with libsndfile: mixed to
// mono or the chosen channel, with its loop. False after the error line.
bool ReadSignal(int descriptor, const std::string& name, const Options& options, Signal& signal);

// What Shape made of a signal: the samples to encode, padded at the front so
// that the loop starts on a block, and what changed on the way.
struct Shaped {
    std::vector<std::int16_t> pcm;
    std::int64_t loopStart = BRR_NO_LOOP_START;  // a multiple of 16
    double rate = 0;
    bool resampled = false;
    double boostScale = 1;  // < 1 when the boost was scaled down not to clip
    std::uint64_t clipped = 0;
};

// Resamples, fits the loop to whole blocks, boosts and rounds. False after
// the error line.
bool Shape(const Signal& signal, const Options& options, const std::string& name, Shaped& shaped);

// What Shape will make of a signal's length: the ratio of rates, the loop
// (start and length at the new rate, repeated `times`), its total and the
// silence in front that puts the loop on a block.
struct ShapePlan {
    double ratio = 1;
    bool looped = false;
    std::int64_t start = -1;
    std::int64_t loop = 0;
    std::size_t total = 0;
    std::int64_t times = 1;    // copies of the loop after resampling (--loop-fit repeat)
    std::int64_t repeats = 1;  // periods of the input's loop resampled as one (--loop-fit auto)
    std::int64_t pad = 0;
};
ShapePlan PlanShape(const Signal& signal, const Options& options);
// The size of the block file Shape and the encoder will write, loop header included.
std::uint64_t ShapedBytes(const ShapePlan& plan, const Options& options);

// Encodes one INPUT into `output` ("-": standard output); true when written.
bool EncodeOne(const Options& options, const char* inputArg, const std::string& output, bool announce,
               std::vector<Written>& written);

}  // namespace brrencode

#endif
