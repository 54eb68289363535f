// brrinsert's command line, parsed with getopt_long into the library's
// insert options and the tool's own.
#include <cstring>

#include "brrinsert.h"

namespace brrinsert {
namespace {

enum LongOnly { kEntry = kOwnOptions, kAt, kFree, kEcho, kMemoryOffset, kDirectory, kInPlace };

const std::vector<LongOption> kLongOptions = {
    {"entry", true, kEntry},   {"at", true, kAt},         {"free", true, kFree},
    {"echo", true, kEcho},     {"memory-offset", true, kMemoryOffset}, {"directory", true, kDirectory},
    {"in-place", false, kInPlace}, {"dry-run", false, 'n'},
};

// "A:B", each a whole number (decimal or 0x hex) within its range.
bool ParsePair(const char* text, std::uint64_t maxFirst, std::uint64_t maxSecond, std::uint64_t& first,
               std::uint64_t& second)
{
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr) {
        return false;
    }
    const std::string a(text, colon);
    return ParseWholeNumber(a.c_str(), 0, maxFirst, first, true) && ParseWholeNumber(colon + 1, 0, maxSecond, second, true);
}

bool TakeRanges(Options& options, int c, const char* value, const std::string& quoted)
{
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (c == kFree) {
        if (!ParsePair(value, 0xFFFF, 0x10000, a, b) || a >= b) {
            return UsageError("invalid free range " + quoted + " (START:END, memory addresses from 0 to 0x10000, END past START)");
        }
        if (options.free.size() == BRR_MAX_FREE_RANGES) {
            return UsageError("too many --free ranges (at most 64)");
        }
        options.free.push_back(BRRMemoryRange{static_cast<std::int64_t>(a), static_cast<std::int64_t>(b)});
        return true;
    }
    if (!ParsePair(value, 0xFFFF, 0x10000, a, b) || b == 0) {
        return UsageError("invalid echo buffer " + quoted + " (START:BYTES, START from 0 to 0xFFFF, BYTES from 1 to 0x10000)");
    }
    options.insert.echoStart = static_cast<std::int64_t>(a);
    options.insert.echoBytes = static_cast<std::int64_t>(b);
    return true;
}

// One of the tool's own options; false after the usage message.
bool Take(void* context, int c, const char* value)
{
    Options& options = *static_cast<Options*>(context);
    BRRInsertOptions& o = options.insert;
    std::uint64_t number = 0;
    const std::string quoted = value != nullptr ? std::string("'") + value + "'" : std::string();
    switch (c) {
    case kInPlace: options.inPlace = true; return true;
    case 'n': options.dryRun = true; return true;
    case kFree:
    case kEcho: return TakeRanges(options, c, value, quoted);
    case kEntry:
        if (!ParseWholeNumber(value, 0, 255, number, true)) {
            return UsageError("invalid entry " + quoted + " (a directory entry from 0 to 255)");
        }
        o.entry = static_cast<std::int32_t>(number);
        return true;
    case kAt:
        if (!ParseWholeNumber(value, 0, std::uint64_t{1} << 62, number, true)) {
            return UsageError("invalid offset " + quoted + " (a byte offset, decimal or 0x hex)");
        }
        o.at = static_cast<std::int64_t>(number);
        return true;
    case kMemoryOffset:
        if (!ParseWholeNumber(value, 0, std::uint64_t{1} << 62, number, true)) {
            return UsageError("invalid memory offset " + quoted + " (a byte offset from 0 to 0x4000000000000000, decimal or 0x hex)");
        }
        o.memoryOffset = static_cast<std::int64_t>(number);
        return true;
    case kDirectory:
        if (!ParseWholeNumber(value, 0, 0xFF00, number, true) || number % 256 != 0) {
            return UsageError("invalid directory " + quoted + " (an address from 0 to 0xFF00, a multiple of 0x100)");
        }
        o.directory = static_cast<std::int32_t>(number);
        return true;
    default: return false;
    }
}

bool CheckArguments(Options& options)
{
    if (options.inputs.size() != 2) {
        return UsageError(options.inputs.size() < 2 ? "IMAGE and SAMPLE are needed" : "one IMAGE and one SAMPLE only");
    }
    options.image = options.inputs[0];
    options.sample = options.inputs[1];
    const BRRInsertOptions& o = options.insert;
    if ((o.entry >= 0) == (o.at >= 0)) {
        return UsageError("give exactly one of --entry N and --at OFFSET");
    }
    if (o.at >= 0 && (!options.free.empty() || o.echoStart >= 0 || o.directory >= 0)) {
        return UsageError("--free, --echo and --directory place a directory entry's sample; --at replaces in place");
    }
    if (options.outputDir != nullptr) {
        return UsageError("brrinsert writes one image: -o OUTPUT or --in-place");
    }
    if (!options.dryRun && (options.output != nullptr) == options.inPlace) {
        return UsageError("give exactly one of -o OUTPUT and --in-place (or -n to write nothing)");
    }
    if (IsStandardStream(options.image) && options.inPlace) {
        return UsageError("--in-place needs IMAGE to be a file");
    }
    return CheckStandardInputOnce(options.inputs);
}

}  // namespace

bool ParseArguments(int argc, char** argv, Options& options)
{
    BRRInsertOptionsInit(&options.insert);
    if (!ParseCommandLine(argc, argv, kLongOptions, options, Take, &options, "n")) {
        return false;
    }
    options.progress = options.quiet ? nullptr : stdout;
    return options.help || options.version || CheckArguments(options);
}

}  // namespace brrinsert
