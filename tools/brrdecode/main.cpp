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
    "  -h, --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "Exit status: 0 when every INPUT was converted, 1 when any failed,\n"
    "2 for a usage error.\n";

struct Options {
    std::vector<const char*> inputs;
    const char* output = nullptr;
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

// Parses the command line into `options`; returns kExitOk or, after printing
// the message, kExitUsage.
int ParseArguments(int argc, char** argv, Options& options)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            options.inputs.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            options.version = true;
        } else if (std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--output") == 0) {
            if (i + 1 >= argc) {
                return UsageError(std::string("option '") + arg + "' needs a file name");
            }
            options.output = argv[++i];
        } else if (std::strncmp(arg, "--output=", 9) == 0) {
            options.output = arg + 9;
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
        const std::int32_t status = vornish::BRRConvertFile(input, output.c_str(), 1,
                                                            vornish::kDefaultSampleRate);
        if (status != BRR_STATUS_DONE) {
            exitCode = kExitFailed;
        }
    }
    return exitCode;
}
