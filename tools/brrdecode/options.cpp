// brrdecode's command line, parsed with getopt_long into the library's
// conversion options and the tool's own.
#include <getopt.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "brrdecode.h"

namespace brrdecode {
namespace {

constexpr std::uint32_t kMaxRate = 384000;

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
    kVersion = 256, kLoops, kRate, kLoopStart, kNoHeader, kStopAtEnd, kNoSmpl, kRules, kPlay, kPlayRate, kRootNote
};

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"output-dir", required_argument, nullptr, 'd'},
    {"force", no_argument, nullptr, 'f'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"loops", required_argument, nullptr, kLoops},
    {"rate", required_argument, nullptr, kRate},
    {"loop-start", required_argument, nullptr, kLoopStart},
    {"no-header", no_argument, nullptr, kNoHeader},
    {"stop-at-end", no_argument, nullptr, kStopAtEnd},
    {"no-smpl", no_argument, nullptr, kNoSmpl},
    {"rules", required_argument, nullptr, kRules},
    {"play", required_argument, nullptr, kPlay},
    {"play-rate", required_argument, nullptr, kPlayRate},
    {"root-note", required_argument, nullptr, kRootNote},
    {nullptr, 0, nullptr, 0},
};

// One option with a value; false after the usage message.
bool TakeValue(int c, const char* value, BRRConvertOptions& convert)
{
    std::uint64_t number = 0;
    const std::string quoted = std::string("'") + value + "'";
    switch (c) {
    case kLoops:
        if (!ParseWholeNumber(value, 1, BRR_MAX_LOOP_COUNT, number)) {
            return UsageError("invalid loop count " + quoted + " (a whole number from 1 to 3200)");
        }
        convert.loopCount = static_cast<std::uint32_t>(number);
        return true;
    case kRate:
        if (!ParseWholeNumber(value, 1, kMaxRate, number)) {
            return UsageError("invalid sample rate " + quoted + " (a whole number of Hz from 1 to 384000)");
        }
        convert.sampleRate = static_cast<std::uint32_t>(number);
        return true;
    case kLoopStart:
        if (!ParseWholeNumber(value, 0, 0xFFFFFFFFu, number)) {
            return UsageError("invalid loop start " + quoted + " (a block number from 0)");
        }
        convert.loopStart = static_cast<std::int64_t>(number);
        return true;
    case kRules:
        if (std::strcmp(value, "hardware") != 0 && std::strcmp(value, "library") != 0) {
            return UsageError("invalid rules " + quoted + " ('hardware' or 'library')");
        }
        convert.rules = value[0] == 'h' ? BRR_RULES_HARDWARE : BRR_RULES_LIBRARY;
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
    opterr = 0;  // the messages below say more
    int c;
    while ((c = getopt_long(argc, argv, ":o:d:fqh", kLongOptions, nullptr)) != -1) {
        switch (c) {
        case 'o': options.output = optarg; break;
        case 'd': options.outputDir = optarg; break;
        case 'f': options.force = true; break;
        case 'q': options.quiet = true; break;
        case 'h': options.help = true; break;
        case kVersion: options.version = true; break;
        case kNoHeader: options.convert.noHeader = 1; break;
        case kStopAtEnd: options.convert.stopAtEnd = 1; break;
        case kNoSmpl: options.convert.writeSmpl = 0; break;
        case ':': return UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
        case '?': return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
        default:
            if (!TakeValue(c, optarg, options.convert)) {
                return false;
            }
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.inputs.push_back(argv[i]);
    }
    return options.help || options.version || CheckShellArguments(options);
}

std::string OutputFor(const Options& options, const char* input)
{
    return shell::OutputFor(options.output, options.outputDir, input, "brr", "wav");
}

}  // namespace brrdecode
