// brrdecode: converts BRR files to WAV files from the shell.
//
// What the tool adds to the library's conversion is what a shell user
// expects: it never replaces a file unasked nor writes over its input, it
// reads and writes standard input and output (console lines then go to
// standard error), it names outputs into a folder, it says why a file cannot
// be opened, and a conversion stopped by a signal leaves no partial output.
#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "brrdecode.h"

namespace {

using brrdecode::IsStandardStream;
using brrdecode::Options;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: brrdecode [OPTIONS] INPUT...\n"
    "Convert BRR samples to WAV files (signed 16-bit mono PCM).\n"
    "\n"
    "Each INPUT is written to INPUT with its .brr extension replaced by .wav\n"
    "(or .wav appended when it has none).\n"
    "\n"
    "File forms: a file of 9-byte blocks, or one whose size is 2 more than a\n"
    "multiple of 9: a 2-byte little-endian loop header (the loop start as a\n"
    "byte offset into the blocks), then the blocks.\n"
    "Flags: bit 0 of a block's header byte marks the sample's end, bit 1 a\n"
    "sample that then loops back to its loop start. Every block is decoded\n"
    "unless --stop-at-end; blocks after the end block are warned about.\n"
    "A known loop start is printed; when the loop was given or the last block\n"
    "has both flags, the WAV gets a 'smpl' chunk that samplers read.\n"
    "\n"
    "An existing file is never replaced without -f, and an output is never\n"
    "its own input. INPUT '-' reads standard input; its WAV goes to standard\n"
    "output (as does -o -), and the console lines then go to standard error.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE    write the WAV to FILE, '-' for standard output\n"
    "                       (only with a single INPUT)\n"
    "  -d, --output-dir DIR write each WAV into DIR, named after its INPUT\n"
    "  -f, --force          replace existing output files\n"
    "  -q, --quiet          print nothing but errors and warnings\n"
    "      --loops N        play the sample as a sampler does: once, then the\n"
    "                       loop (loop start to end) N-1 more times (1 to 3200,\n"
    "                       default 1), the decoder history carried on; with\n"
    "                       N > 1, report the loop's probable note and whether\n"
    "                       it is stable\n"
    "      --rate HZ        sample rate written into the WAV and used for the\n"
    "                       note (1 to 384000, default 8000; 32000 is the native\n"
    "                       rate of most samples)\n"
    "      --loop-start S   the loop starts at block S (overrides a header)\n"
    "      --no-header      take every file as headerless\n"
    "      --stop-at-end    decode up to the first block with the end flag\n"
    "      --no-smpl        write no 'smpl' chunk\n"
    "  -h, --help           print this help and exit\n"
    "      --version        print the version and exit\n"
    "\n"
    "Examples:\n"
    "  brrdecode --stop-at-end --loops 4 --rate 32000 -o piano.wav piano.brr\n"
    "  brrdecode - < voice.brr | sox -t wav - voice.flac\n"
    "\n"
    "Exit status: 0 when every INPUT was converted, 1 when any failed,\n"
    "2 for a usage error.\n";

constexpr std::uint32_t kMaxRate = 384000;

int UsageError(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "brrdecode: %s\nTry 'brrdecode --help' for more information.\n",
                 message.c_str());
    return kExitUsage;
}

// A whole decimal number from `min` to `max`, digits only.
bool ParseWholeNumber(const char* text, std::uint64_t min, std::uint64_t max, std::uint64_t& value)
{
    if (*text == '\0') {
        return false;
    }
    std::uint64_t n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        n = n * 10 + static_cast<std::uint64_t>(*p - '0');
        if (n > max) {
            return false;
        }
    }
    if (n < min) {
        return false;
    }
    value = n;
    return true;
}

enum LongOnly { kVersion = 256, kLoops, kRate, kLoopStart, kNoHeader, kStopAtEnd, kNoSmpl };

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
    {nullptr, 0, nullptr, 0},
};

// Parses the command line into `options`; returns kExitOk or, after printing
// the message, kExitUsage.
int ParseArguments(int argc, char** argv, Options& options)
{
    opterr = 0;  // the messages below say more
    std::uint64_t number = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":o:d:fqh", kLongOptions, nullptr)) != -1) {
        switch (c) {
        case 'o': options.output = optarg; break;
        case 'd': options.outputDir = optarg; break;
        case 'f': options.force = true; break;
        case 'q': options.quiet = true; break;
        case 'h': options.help = true; break;
        case kVersion: options.version = true; break;
        case kLoops:
            if (!ParseWholeNumber(optarg, 1, BRR_MAX_LOOP_COUNT, number)) {
                return UsageError(std::string("invalid loop count '") + optarg +
                                  "' (a whole number from 1 to 3200)");
            }
            options.convert.loopCount = static_cast<std::uint32_t>(number);
            break;
        case kRate:
            if (!ParseWholeNumber(optarg, 1, kMaxRate, number)) {
                return UsageError(std::string("invalid sample rate '") + optarg +
                                  "' (a whole number of Hz from 1 to 384000)");
            }
            options.convert.sampleRate = static_cast<std::uint32_t>(number);
            break;
        case kLoopStart:
            if (!ParseWholeNumber(optarg, 0, 0xFFFFFFFFu, number)) {
                return UsageError(std::string("invalid loop start '") + optarg +
                                  "' (a block number from 0)");
            }
            options.convert.loopStart = static_cast<std::int64_t>(number);
            break;
        case kNoHeader: options.convert.noHeader = 1; break;
        case kStopAtEnd: options.convert.stopAtEnd = 1; break;
        case kNoSmpl: options.convert.writeSmpl = 0; break;
        case ':': return UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
        default: return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.inputs.push_back(argv[i]);
    }
    if (options.help || options.version) {
        return kExitOk;
    }
    if (options.inputs.empty()) {
        return UsageError("no INPUT file given");
    }
    if (options.output != nullptr && options.inputs.size() > 1) {
        return UsageError("-o/--output needs exactly one INPUT");
    }
    if (options.output != nullptr && options.outputDir != nullptr) {
        return UsageError("-o/--output and -d/--output-dir exclude each other");
    }
    struct stat st;
    if (options.outputDir != nullptr && (::stat(options.outputDir, &st) != 0 || !S_ISDIR(st.st_mode))) {
        return UsageError(std::string("'") + options.outputDir + "' is not a directory");
    }
    std::size_t standardInputs = 0;
    for (const char* input : options.inputs) {
        standardInputs += IsStandardStream(input) ? 1 : 0;
    }
    if (standardInputs > 1) {
        return UsageError("standard input ('-') can be read only once");
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    BRRConvertOptionsInit(&options.convert);
    options.convert.sampleForms = 1;  // samples as they are found
    if (ParseArguments(argc, argv, options) != kExitOk) {
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("brrdecode %s\n", BRRVersion());
        return kExitOk;
    }
    std::vector<std::string> outputs;
    bool wavToStandardOutput = false;
    for (const char* input : options.inputs) {
        outputs.push_back(brrdecode::OutputFor(options, input));
        wavToStandardOutput = wavToStandardOutput || IsStandardStream(outputs.back().c_str());
    }
    // Standard output carries the WAV alone when the WAV goes there.
    options.progress = options.quiet ? nullptr : wavToStandardOutput ? stderr : stdout;
    brrdecode::CatchEndingSignals();

    int exitCode = kExitOk;
    std::vector<brrdecode::Written> written;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        if (!brrdecode::ConvertOne(options, options.inputs[i], outputs[i], options.inputs.size() > 1,
                                   written)) {
            exitCode = kExitFailed;
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        std::fprintf(stderr, "brrdecode: %s: %s\n", brrdecode::kStandardOutput,
                     std::strerror(error != 0 ? error : EIO));
        exitCode = kExitFailed;
    }
    return exitCode;
}
