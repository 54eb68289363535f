// brrscan's command line, parsed with getopt_long into the library's scan
// options and the tool's own.
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "brrscan.h"
#include "host.h"

namespace brrscan {
namespace {

enum LongOnly { kJson = kOwnOptions, kMinBlocks, kMinScore, kMemoryOffset, kDirectory, kWav, kUnique, kRate, kPitch };

const std::vector<LongOption> kLongOptions = {
    {"json", false, kJson},           {"min-blocks", true, kMinBlocks}, {"min-score", true, kMinScore},
    {"memory-offset", true, kMemoryOffset}, {"directory", true, kDirectory}, {"wav", false, kWav},
    {"unique", false, kUnique},       {"extract", true, 'x'},         {"rate", true, kRate},
    {"pitch", true, kPitch},
};

bool ParseScore(const char* text, double& score)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(value >= 0.0 && value <= 1.0)) {
        return UsageError(std::string("invalid score '") + text + "' (a number from 0 to 1)");
    }
    score = value;
    return true;
}

// --rate or --pitch, which exclude each other; false after the usage message.
bool TakeRate(Options& options, int c, const char* value, const std::string& quoted)
{
    const char* option = c == kRate ? "--rate" : "--pitch";
    if (options.rateBy != nullptr && std::string(options.rateBy) != option) {
        return UsageError(std::string(options.rateBy) + " and " + option + " exclude each other");
    }
    options.rateBy = option;
    if (c == kRate) {
        return ParseRate(value, options.wavRate);
    }
    std::uint64_t number = 0;
    if (!ParseWholeNumber(value, 1, BRR_MAX_PITCH, number, true)) {
        return UsageError("invalid pitch " + quoted + " (1 to 16383, or 0x1 to 0x3FFF; 4096 is 32000 Hz)");
    }
    options.wavRate = static_cast<std::uint32_t>((number * BRR_PLAYBACK_RATE + BRR_PITCH_ONE / 2) / BRR_PITCH_ONE);
    return true;
}

// One of the tool's own options; false after the usage message.
bool Take(void* context, int c, const char* value)
{
    Options& options = *static_cast<Options*>(context);
    std::uint64_t number = 0;
    const std::string quoted = value != nullptr ? std::string("'") + value + "'" : std::string();
    switch (c) {
    case kJson: options.json = true; return true;
    case kWav: options.wav = true; return true;
    case kUnique: options.unique = true; return true;
    case 'x': options.extractDir = value; return true;
    case kMinScore: return ParseScore(value, options.scan.minScore);
    case kRate:
    case kPitch: return TakeRate(options, c, value, quoted);
    case kMinBlocks:
        if (!ParseWholeNumber(value, 1, std::uint64_t{1} << 32, number)) {
            return UsageError("invalid block count " + quoted + " (a whole number from 1 to 4294967296)");
        }
        options.scan.minBlocks = number;
        return true;
    case kMemoryOffset:
        if (!ParseWholeNumber(value, 0, std::uint64_t{1} << 62, number, true)) {
            return UsageError("invalid memory offset " + quoted + " (a byte offset from 0 to 0x4000000000000000, decimal or 0x hex)");
        }
        options.scan.memoryOffset = static_cast<std::int64_t>(number);
        return true;
    case kDirectory:
        if (!ParseWholeNumber(value, 0, 0xFF00, number, true) || number % 256 != 0) {
            return UsageError("invalid directory " + quoted + " (an address from 0 to 0xFF00, a multiple of 0x100)");
        }
        options.scan.directory = static_cast<std::int32_t>(number);
        return true;
    default: return false;
    }
}

bool CheckArguments(const Options& options)
{
    if (options.inputs.empty()) {
        return UsageError("no IMAGE given");
    }
    if (options.output != nullptr || options.outputDir != nullptr) {
        return UsageError("brrscan writes no single output; -x DIR writes the samples it finds");
    }
    if (options.wav && options.extractDir == nullptr) {
        return UsageError("--wav needs -x DIR");
    }
    if (options.rateBy != nullptr && !options.wav) {
        return UsageError(std::string(options.rateBy) + " sets the rate of the WAVs that -x DIR --wav writes");
    }
    // A DIR that does not exist yet is made before the scan; one that is
    // something else is a usage error.
    host::Identity identity;
    const bool absent = options.extractDir != nullptr && !host::IdentityOfPath(options.extractDir, identity);
    return (absent || CheckDirectory(options.extractDir)) && CheckStandardInputOnce(options.inputs);
}

}  // namespace

bool ParseArguments(int argc, char** argv, Options& options)
{
    BRRScanOptionsInit(&options.scan);
    if (!ParseCommandLine(argc, argv, kLongOptions, options, Take, &options, "x:")) {
        return false;
    }
    options.batch = options.inputs.size() > 1;
    // Listings go to standard output, so messages never mix into them.
    options.progress = options.quiet ? nullptr : stderr;
    return options.help || options.version || CheckArguments(options);
}

}  // namespace brrscan
