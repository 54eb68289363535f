// brrdecode's command line, parsed with getopt_long into the library's
// conversion options and the tool's own.

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "brrdecode.h"

namespace brrdecode {
namespace {

enum LongOnly {
    kLoops = kOwnOptions, kRate, kLoopStart, kNoHeader, kStopAtEnd, kNoSmpl, kRules, kPlay, kPlayRate, kRootNote,
    kPitch
};

const std::vector<LongOption> kLongOptions = {
    {"loops", true, kLoops},          {"rate", true, kRate},         {"loop-start", true, kLoopStart},
    {"no-header", false, kNoHeader},  {"stop-at-end", false, kStopAtEnd}, {"no-smpl", false, kNoSmpl},
    {"rules", true, kRules},          {"play", true, kPlay},         {"play-rate", true, kPlayRate},
    {"root-note", true, kRootNote},   {"pitch", true, kPitch},
};

// The output's rate and the playback are set by one option at most.
bool ClaimRate(Options& options, const char* option)
{
    if (options.rateBy != nullptr && std::strcmp(options.rateBy, option) != 0) {
        return UsageError(std::string(options.rateBy) + " and " + option + " exclude each other");
    }
    options.rateBy = option;
    return true;
}

// --rate, --pitch, --play and --play-rate; false after the usage message.
bool TakeRate(Options& options, int c, const char* value, const std::string& quoted)
{
    BRRConvertOptions& convert = options.convert;
    std::uint64_t number = 0;
    switch (c) {
    case kRate: return ClaimRate(options, "--rate") && ParseRate(value, convert.sampleRate);
    case kPlay:
        if (!ParseWholeNumber(value, 1, BRR_MAX_PITCH, number, true)) {
            return UsageError("invalid pitch " + quoted + " (1 to 16383, or 0x1 to 0x3FFF; 4096 is 1:1)");
        }
        convert.play = static_cast<std::uint32_t>(number);
        return ClaimRate(options, "--play");
    case kPitch:
        if (!ParseWholeNumber(value, 1, BRR_MAX_PITCH, number, true)) {
            return UsageError("invalid pitch " + quoted + " (1 to 16383, or 0x1 to 0x3FFF; 4096 is 32000 Hz)");
        }
        convert.sampleRate = static_cast<std::uint32_t>((number * BRR_PLAYBACK_RATE + BRR_PITCH_ONE / 2) / BRR_PITCH_ONE);
        return ClaimRate(options, "--pitch");
    default:  // kPlayRate: PITCH = round(HZ * 4096 / 32000), which must be 1..16383.
        if (!ParseWholeNumber(value, 4, 127996, number)) {
            return UsageError("invalid playback rate " + quoted + " (a whole number of Hz from 4 to 127996)");
        }
        convert.play = static_cast<std::uint32_t>((number * BRR_PITCH_ONE + BRR_PLAYBACK_RATE / 2) / BRR_PLAYBACK_RATE);
        return ClaimRate(options, "--play-rate");
    }
}

// --loops, --loop-start and --root-note; false after the usage message.
bool TakeNumber(BRRConvertOptions& convert, int c, const char* value, const std::string& quoted)
{
    std::uint64_t number = 0;
    switch (c) {
    case kLoops:
        if (!ParseWholeNumber(value, 1, BRR_MAX_LOOP_COUNT, number)) {
            return UsageError("invalid loop count " + quoted + " (a whole number from 1 to 3200)");
        }
        convert.loopCount = static_cast<std::uint32_t>(number);
        return true;
    case kLoopStart:
        if (!ParseWholeNumber(value, 0, 0xFFFFFFFFu, number)) {
            return UsageError("invalid loop start " + quoted + " (a block number from 0 to 4294967295)");
        }
        convert.loopStart = static_cast<std::int64_t>(number);
        return true;
    default:  // kRootNote
        if (!ParseNote(value, number)) {
            return UsageError("invalid root note " + quoted + " (C4, A#3, Eb5 or a MIDI number from 0 to 127)");
        }
        convert.rootNote = static_cast<std::int32_t>(number);
        return true;
    }
}

// One of the tool's own options; false after the usage message.
bool Take(void* context, int c, const char* value)
{
    Options& options = *static_cast<Options*>(context);
    BRRConvertOptions& convert = options.convert;
    switch (c) {
    case kNoHeader: convert.noHeader = 1; return true;
    case kStopAtEnd: convert.stopAtEnd = 1; return true;
    case kNoSmpl: convert.writeSmpl = 0; return true;
    case kRules: return ParseRules(value, convert.rules);
    case kRate:
    case kPlay:
    case kPitch:
    case kPlayRate: return TakeRate(options, c, value, std::string("'") + value + "'");
    case kLoops:
    case kLoopStart:
    case kRootNote: return TakeNumber(convert, c, value, std::string("'") + value + "'");
    default: return false;
    }
}

}  // namespace

bool ParseArguments(int argc, char** argv, Options& options)
{
    // The tool's defaults: samples as they are found, decoded and played as
    // the hardware does.
    BRRConvertOptionsInitTool(&options.convert);
    if (!ParseCommandLine(argc, argv, kLongOptions, options, Take, &options)) {
        return false;
    }
    if (options.help || options.version) {
        return true;
    }
    return CheckShellArguments(options);
}

}  // namespace brrdecode
