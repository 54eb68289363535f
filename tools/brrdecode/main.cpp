// brrdecode: converts BRR files to WAV files from the shell.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VornishAudioBRRDecoder.h"
#include "convert/convert.h"

namespace {

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
    "Options:\n"
    "  -o, --output FILE  write the WAV to FILE (only with a single INPUT)\n"
    "      --loops N      decode the whole file N times in a row into one WAV\n"
    "                     (1 to 3200, default 1), the decoder history carried\n"
    "                     from each pass into the next; with N > 1, report the\n"
    "                     probable note of the loop and whether it is stable\n"
    "      --rate HZ      sample rate written into the WAV and used for the\n"
    "                     note (1 to 384000, default 8000; 32000 is the native\n"
    "                     rate of most samples)\n"
    "  -h, --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "Exit status: 0 when every INPUT was converted, 1 when any failed,\n"
    "2 for a usage error.\n";

constexpr std::uint32_t kMaxRate = 384000;

struct Options {
    std::vector<const char*> inputs;
    const char* output = nullptr;
    std::uint32_t loops = 1;
    std::uint32_t rate = vornish::kDefaultSampleRate;
    bool help = false;
    bool version = false;
};

int UsageError(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "brrdecode: %s\nTry 'brrdecode --help' for more information.\n",
                 message.c_str());
    return kExitUsage;
}

// A whole decimal number from `min` to `max`, digits only.
bool ParseWholeNumber(const char* text, std::uint32_t min, std::uint32_t max, std::uint32_t& value)
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
    value = static_cast<std::uint32_t>(n);
    return true;
}

// The value of an option given as "--name VALUE" or "--name=VALUE": true if
// `arg` is that option; `value` is null when it is missing.
bool MatchValueOption(const char* name, int argc, char** argv, int& i, const char*& value)
{
    const char* arg = argv[i];
    const std::size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0) {
        return false;
    }
    if (arg[length] == '=') {
        value = arg + length + 1;
        return true;
    }
    if (arg[length] != '\0') {
        return false;
    }
    value = i + 1 < argc ? argv[++i] : nullptr;
    return true;
}

// Parses the command line into `options`; returns kExitOk or, after printing
// the message, kExitUsage.
int ParseArguments(int argc, char** argv, Options& options)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (optionsEnded || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            options.inputs.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            options.version = true;
        } else if (MatchValueOption("-o", argc, argv, i, value) ||
                   MatchValueOption("--output", argc, argv, i, value)) {
            if (value == nullptr) {
                return UsageError(std::string("option '") + arg + "' needs a file name");
            }
            options.output = value;
        } else if (MatchValueOption("--loops", argc, argv, i, value)) {
            if (value == nullptr || !ParseWholeNumber(value, 1, vornish::kMaxLoopCount, options.loops)) {
                return UsageError(std::string("invalid loop count '") + (value ? value : "") +
                                  "' (a whole number from 1 to 3200)");
            }
        } else if (MatchValueOption("--rate", argc, argv, i, value)) {
            if (value == nullptr || !ParseWholeNumber(value, 1, kMaxRate, options.rate)) {
                return UsageError(std::string("invalid sample rate '") + (value ? value : "") +
                                  "' (a whole number of Hz from 1 to 384000)");
            }
        } else {
            return UsageError(std::string("unknown option '") + arg + "'");
        }
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
    return kExitOk;
}

// INPUT with a final ".brr" (any letter case) replaced by ".wav", or ".wav"
// appended.
std::string DefaultOutputPath(const char* input)
{
    std::string path(input);
    const std::size_t n = path.size();
    if (n >= 4 && path[n - 4] == '.' && std::tolower(static_cast<unsigned char>(path[n - 3])) == 'b' &&
        std::tolower(static_cast<unsigned char>(path[n - 2])) == 'r' &&
        std::tolower(static_cast<unsigned char>(path[n - 1])) == 'r') {
        path.resize(n - 4);
    }
    return path + ".wav";
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (ParseArguments(argc, argv, options) != kExitOk) {
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (options.version) {
        std::puts("brrdecode " VORNISH_BRR_VERSION);
        return kExitOk;
    }
    int exitCode = kExitOk;
    for (const char* input : options.inputs) {
        const std::string output = options.output != nullptr ? options.output : DefaultOutputPath(input);
        vornish::ConvertOptions convert;
        convert.loopCount = options.loops;
        convert.sampleRate = options.rate;
        const std::int32_t status = vornish::BRRConvertFile(input, output.c_str(), convert);
        if (status != BRR_STATUS_DONE) {
            exitCode = kExitFailed;
        }
    }
    return exitCode;
}
