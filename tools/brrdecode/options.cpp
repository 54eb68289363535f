// brrdecode's command line, parsed with getopt_long into the library's
// conversion options and the tool's own.

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "brrdecode.h"

namespace brrdecode {
namespace {

// C4, A#3, Eb5, C-1 (C4 is MIDI 60), or a MIDI number 0..127.
bool ParseNote(const char* text, std::uint64_t& midi)
{
    static const int kSemitones[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const int letter = std::toupper(static_cast<unsigned char>(text[0]));
    if (letter < 'A' || letter > 'G') {
        return ParseWholeNumber(text, 0, 127, midi);
    }
    int semitone = kSemitones[letter - 'A'];
    const char* p = text + 1;
    if (*p == '#' || *p == 'b') {
        semitone += *p == '#' ? 1 : -1;
        ++p;
    }
    const bool below = *p == '-';
    std::uint64_t octave = 0;
    if (!ParseWholeNumber(below ? p + 1 : p, below ? 1 : 0, below ? 1 : 9, octave)) {
        return false;
    }
    const long value = 12L * ((below ? -1L : static_cast<long>(octave)) + 1L) + semitone;
    midi = static_cast<std::uint64_t>(value);
    return value >= 0 && value <= 127;
}

enum LongOnly {
    kLoops = kOwnOptions, kRate, kLoopStart, kNoHeader, kStopAtEnd, kNoSmpl, kRules, kPlay, kPlayRate, kRootNote
};

const std::vector<LongOption> kLongOptions = {
    {"loops", true, kLoops},          {"rate", true, kRate},         {"loop-start", true, kLoopStart},
    {"no-header", false, kNoHeader},  {"stop-at-end", false, kStopAtEnd}, {"no-smpl", false, kNoSmpl},
    {"rules", true, kRules},          {"play", true, kPlay},         {"play-rate", true, kPlayRate},
    {"root-note", true, kRootNote},
};

// One of the tool's own options; false after the usage message.
bool Take(void* context, int c, const char* value)
{
    BRRConvertOptions& convert = static_cast<Options*>(context)->convert;
    switch (c) {
    case kNoHeader: convert.noHeader = 1; return true;
    case kStopAtEnd: convert.stopAtEnd = 1; return true;
    case kNoSmpl: convert.writeSmpl = 0; return true;
    case kRate: return ParseRate(value, convert.sampleRate);
    case kRules: return ParseRules(value, convert.rules);
    default: break;
    }
    std::uint64_t number = 0;
    const std::string quoted = std::string("'") + value + "'";
    switch (c) {
    case kLoops:
        if (!ParseWholeNumber(value, 1, BRR_MAX_LOOP_COUNT, number)) {
            return UsageError("invalid loop count " + quoted + " (a whole number from 1 to 3200)");
        }
        convert.loopCount = static_cast<std::uint32_t>(number);
        return true;
    case kLoopStart:
        if (!ParseWholeNumber(value, 0, 0xFFFFFFFFu, number)) {
            return UsageError("invalid loop start " + quoted + " (a block number from 0)");
        }
        convert.loopStart = static_cast<std::int64_t>(number);
        return true;
    case kPlay:
        if (!ParseWholeNumber(value, 1, BRR_MAX_PITCH, number, true)) {
            return UsageError("invalid pitch " + quoted + " (1 to 16383, or 0x1 to 0x3FFF; 4096 is 1:1)");
        }
        convert.play = static_cast<std::uint32_t>(number);
        return true;
    case kPlayRate:
        // PITCH = round(HZ * 4096 / 32000), which must be 1..16383.
        if (!ParseWholeNumber(value, 4, 127996, number)) {
            return UsageError("invalid playback rate " + quoted + " (a whole number of Hz from 4 to 127996)");
        }
        convert.play = static_cast<std::uint32_t>((number * BRR_PITCH_ONE + BRR_PLAYBACK_RATE / 2) / BRR_PLAYBACK_RATE);
        return true;
    case kRootNote:
        if (!ParseNote(value, number)) {
            return UsageError("invalid root note " + quoted + " (C4, A#3, Eb5 or a MIDI number from 0 to 127)");
        }
        convert.rootNote = static_cast<std::int32_t>(number);
        return true;
    default: return false;
    }
}

}  // namespace

bool ParseArguments(int argc, char** argv, Options& options)
{
    // The tool's defaults: samples as they are found, decoded and played as
    // the hardware does.
    BRRConvertOptionsInit(&options.convert);
    options.convert.sampleForms = 1;
    options.convert.rules = BRR_RULES_HARDWARE;
    options.convert.sampleRate = BRR_PLAYBACK_RATE;
    if (!ParseCommandLine(argc, argv, kLongOptions, options, Take, &options)) {
        return false;
    }
    return options.help || options.version || CheckShellArguments(options);
}

}  // namespace brrdecode
