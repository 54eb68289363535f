// brrencode's command line, parsed with getopt_long.

#include <cstring>
#include <string>

#include "brrencode.h"

namespace brrencode {
namespace {

enum LongOnly {
    kRate = kOwnOptions, kChannel, kLoop, kNoLoop, kLoopFit, kTrebleBoost, kLoopHeader, kNoLoopHeader, kEffort,
    kRules, kRootNote, kMaxBytes
};

const std::vector<LongOption> kLongOptions = {
    {"rate", true, kRate},           {"channel", true, kChannel},         {"loop", true, kLoop},
    {"no-loop", false, kNoLoop},     {"loop-fit", true, kLoopFit},        {"treble-boost", false, kTrebleBoost},
    {"loop-header", false, kLoopHeader}, {"effort", true, kEffort},      {"rules", true, kRules},
    {"no-loop-header", false, kNoLoopHeader}, {"root-note", true, kRootNote}, {"max-bytes", true, kMaxBytes},
};

// A loop point: a whole number of samples, or seconds ("1.5s").
bool ParseLoopPoint(const std::string& text, double& value, bool& seconds)
{
    seconds = !text.empty() && text.back() == 's';
    if (!seconds) {
        std::uint64_t samples = 0;
        const bool ok = ParseWholeNumber(text.c_str(), 0, INT32_MAX, samples);
        value = static_cast<double>(samples);
        return ok;
    }
    const std::string number = text.substr(0, text.size() - 1);
    char* end = nullptr;
    value = std::strtod(number.c_str(), &end);
    const bool digits = number.find_first_not_of("0123456789.") == std::string::npos;
    return !number.empty() && digits && end == number.c_str() + number.size() && value <= 86400.0;
}

// START:END, each in samples or seconds, START < END where both are alike.
bool ParseLoop(const char* value, Options& options)
{
    if (std::strcmp(value, "auto") == 0) {
        options.loopAuto = true;
        return true;
    }
    const char* colon = std::strchr(value, ':');
    const bool ok = colon != nullptr &&
                    ParseLoopPoint(std::string(value, colon), options.loopStart, options.loopStartSeconds) &&
                    ParseLoopPoint(colon + 1, options.loopEnd, options.loopEndSeconds) &&
                    (options.loopStartSeconds != options.loopEndSeconds || options.loopEnd > options.loopStart);
    if (!ok) {
        return UsageError(std::string("invalid loop '") + value +
                          "' ('auto', or START:END in input samples from 0 to 2147483647, or in seconds as 1.5s:2s; "
                          "END exclusive and after START)");
    }
    return true;
}

// One of the tool's own options; false after the usage message.
bool Take(void* context, int c, const char* value)
{
    Options& options = *static_cast<Options*>(context);
    switch (c) {
    case kNoLoop: options.noLoop = true; return true;
    case kTrebleBoost: options.trebleBoost = true; return true;
    case kLoopHeader: options.askedLoopHeader = true; return true;  // the default; kept for scripts
    case kNoLoopHeader: options.noLoopHeader = true; return true;
    case kRate: return ParseRate(value, options.rate);
    case kRules: return ParseRules(value, options.encode.rules);
    case kEffort: return ParseEffort(value, options.encode.effort);
    default: break;
    }
    std::uint64_t number = 0;
    const std::string quoted = std::string("'") + value + "'";
    switch (c) {
    case kChannel:
        if (!ParseWholeNumber(value, 1, 1024, number)) {
            return UsageError("invalid channel " + quoted + " (a whole number from 1 to 1024; 1 for the first)");
        }
        options.channel = static_cast<std::uint32_t>(number);
        return true;
    case kLoop: return ParseLoop(value, options);
    case kMaxBytes:
        if (!ParseWholeNumber(value, BRR_BLOCK_SIZE, BRR_MAX_INPUT_SIZE, number, true)) {
            return UsageError("invalid size " + quoted + " (a whole number of bytes from 9 to " +
                              std::to_string(BRR_MAX_INPUT_SIZE) + ")");
        }
        options.maxBytes = number;
        return true;
    case kRootNote:
        if (!ParseNote(value, number)) {
            return UsageError("invalid root note " + quoted + " (C4, A#3, Eb5 or a MIDI number from 0 to 127)");
        }
        options.rootNote = static_cast<std::int32_t>(number);
        return true;
    case kLoopFit:
        if (std::strcmp(value, "auto") != 0 && std::strcmp(value, "resample") != 0 && std::strcmp(value, "repeat") != 0) {
            return UsageError("invalid loop fit " + quoted + " ('auto', 'resample' or 'repeat')");
        }
        options.loopFit = value[0] == 'a' ? BRR_LOOP_FIT_AUTO : value[2] == 's' ? BRR_LOOP_FIT_RESAMPLE : BRR_LOOP_FIT_REPEAT;
        return true;
    default: return false;
    }
}

bool CheckArguments(const Options& options)
{
    if (options.noLoop && (options.loopStart >= 0 || options.loopAuto)) {
        return UsageError("--loop and --no-loop exclude each other");
    }
    if (options.noLoopHeader && options.askedLoopHeader) {
        return UsageError("--loop-header and --no-loop-header exclude each other");
    }
    return CheckShellArguments(options);
}

}  // namespace

bool ParseArguments(int argc, char** argv, Options& options)
{
    BRREncodeOptionsInit(&options.encode);
    if (!ParseCommandLine(argc, argv, kLongOptions, options, Take, &options)) {
        return false;
    }
    return options.help || options.version || CheckArguments(options);
}

}  // namespace brrencode
