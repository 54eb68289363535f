// brrencode's command line, parsed with getopt_long.
#include <getopt.h>

#include <cstring>
#include <string>

#include "brrencode.h"

namespace brrencode {
namespace {

constexpr std::uint32_t kMaxRate = 384000;

enum LongOnly {
    kVersion = 256, kRate, kChannel, kLoop, kNoLoop, kLoopFit, kTrebleBoost, kLoopHeader, kEffort, kRules
};

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"output-dir", required_argument, nullptr, 'd'},
    {"force", no_argument, nullptr, 'f'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"rate", required_argument, nullptr, kRate},
    {"channel", required_argument, nullptr, kChannel},
    {"loop", required_argument, nullptr, kLoop},
    {"no-loop", no_argument, nullptr, kNoLoop},
    {"loop-fit", required_argument, nullptr, kLoopFit},
    {"treble-boost", no_argument, nullptr, kTrebleBoost},
    {"loop-header", no_argument, nullptr, kLoopHeader},
    {"effort", required_argument, nullptr, kEffort},
    {"rules", required_argument, nullptr, kRules},
    {nullptr, 0, nullptr, 0},
};

// START:END, whole numbers, START < END.
bool ParseLoop(const char* value, Options& options)
{
    const char* colon = std::strchr(value, ':');
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    if (colon == nullptr || !ParseWholeNumber(std::string(value, colon).c_str(), 0, INT32_MAX, start) ||
        !ParseWholeNumber(colon + 1, 1, INT32_MAX, end) || end <= start) {
        return UsageError(std::string("invalid loop '") + value +
                          "' (START:END in input samples, END exclusive and after START)");
    }
    options.loopStart = static_cast<std::int64_t>(start);
    options.loopEnd = static_cast<std::int64_t>(end);
    return true;
}

// One option with a value; false after the usage message.
bool TakeValue(int c, const char* value, Options& options)
{
    std::uint64_t number = 0;
    const std::string quoted = std::string("'") + value + "'";
    switch (c) {
    case kRate:
        if (!ParseWholeNumber(value, 1, kMaxRate, number)) {
            return UsageError("invalid sample rate " + quoted + " (a whole number of Hz from 1 to 384000)");
        }
        options.rate = static_cast<std::uint32_t>(number);
        return true;
    case kChannel:
        if (!ParseWholeNumber(value, 1, 1024, number)) {
            return UsageError("invalid channel " + quoted + " (1 for the first)");
        }
        options.channel = static_cast<std::uint32_t>(number);
        return true;
    case kLoop: return ParseLoop(value, options);
    case kLoopFit:
        if (std::strcmp(value, "resample") != 0 && std::strcmp(value, "repeat") != 0) {
            return UsageError("invalid loop fit " + quoted + " ('resample' or 'repeat')");
        }
        options.loopFit = value[2] == 's' ? LoopFit::kResample : LoopFit::kRepeat;
        return true;
    case kEffort: {
        static const char* const kNames[] = {"fast", "default", "best"};
        for (int i = 0; i < 3; ++i) {
            if (std::strcmp(value, kNames[i]) == 0) {
                options.encode.effort = i;
                return true;
            }
        }
        return UsageError("invalid effort " + quoted + " ('fast', 'default' or 'best')");
    }
    case kRules:
        if (std::strcmp(value, "hardware") != 0 && std::strcmp(value, "library") != 0) {
            return UsageError("invalid rules " + quoted + " ('hardware' or 'library')");
        }
        options.encode.rules = value[0] == 'h' ? BRR_RULES_HARDWARE : BRR_RULES_LIBRARY;
        return true;
    default: return false;
    }
}

bool CheckArguments(const Options& options)
{
    if (options.noLoop && options.loopStart >= 0) {
        return UsageError("--loop and --no-loop exclude each other");
    }
    return CheckShellArguments(options);
}

}  // namespace

bool ParseArguments(int argc, char** argv, Options& options)
{
    BRREncodeOptionsInit(&options.encode);
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":o:d:fqh", kLongOptions, nullptr)) != -1) {
        switch (c) {
        case 'o': options.output = optarg; break;
        case 'd': options.outputDir = optarg; break;
        case 'f': options.force = true; break;
        case 'q': options.quiet = true; break;
        case 'h': options.help = true; break;
        case kVersion: options.version = true; break;
        case kNoLoop: options.noLoop = true; break;
        case kTrebleBoost: options.trebleBoost = true; break;
        case kLoopHeader: options.loopHeader = true; break;
        case ':': return UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
        case '?': return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
        default:
            if (!TakeValue(c, optarg, options)) {
                return false;
            }
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.inputs.push_back(argv[i]);
    }
    return options.help || options.version || CheckArguments(options);
}

}  // namespace brrencode
