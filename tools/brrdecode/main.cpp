// brrdecode: converts BRR files to WAV files from the shell.
//
// What the tool adds to the conversion entry is what a shell user expects:
// it never replaces a file unasked nor writes over its input, it reads and
// writes standard input and output (console lines then go to standard
// error), it names outputs into a folder, it says why a file cannot be
// opened, and a conversion stopped by a signal leaves no partial output.
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
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

struct Options {
    std::vector<const char*> inputs;
    const char* output = nullptr;
    const char* outputDir = nullptr;
    bool force = false;
    bool quiet = false;
    vornish::ConvertOptions convert;
    bool help = false;
    bool version = false;
};

const char kStandardInput[] = "standard input";
const char kStandardOutput[] = "standard output";

bool IsStandardStream(const char* name) { return std::strcmp(name, "-") == 0; }

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
            if (!ParseWholeNumber(optarg, 1, vornish::kMaxLoopCount, number)) {
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
        case kNoHeader: options.convert.noHeader = true; break;
        case kStopAtEnd: options.convert.stopAtEnd = true; break;
        case kNoSmpl: options.convert.writeSmpl = false; break;
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

// INPUT with a final ".brr" (any letter case) replaced by ".wav", or ".wav"
// appended.
std::string DefaultOutputPath(const std::string& input)
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

// Whether `path` names the file standard output already writes to, such as
// /dev/stdout.
bool IsOpenAsStandardOutput(const char* path)
{
    struct stat named;
    struct stat out;
    return ::stat(path, &named) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

// Where INPUT's WAV goes: "-" for standard output.
std::string OutputFor(const Options& options, const char* input)
{
    if (options.output != nullptr) {
        return IsOpenAsStandardOutput(options.output) ? "-" : options.output;
    }
    if (options.outputDir != nullptr) {
        const std::string name = IsStandardStream(input) ? "stdin" : input;
        const std::size_t slash = name.find_last_of('/');
        return std::string(options.outputDir) + "/" +
               DefaultOutputPath(slash == std::string::npos ? name : name.substr(slash + 1));
    }
    return IsStandardStream(input) ? "-" : DefaultOutputPath(input);
}

void PrintError(const std::string& name, const char* reason)
{
    std::fflush(stdout);
    std::fprintf(stderr, "brrdecode: %s: %s\n", name.c_str(), reason);
}

// Standard input as a file the conversion can measure and reread: itself
// when it is a regular file, else a copy in an anonymous temporary file.
// Returns the descriptor, or -1 after the error line.
int OpenStandardInput(std::FILE** spool)
{
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
        return STDIN_FILENO;
    }
    if (::isatty(STDIN_FILENO)) {
        PrintError(kStandardInput, "is a terminal; BRR data is not read from a terminal");
        return -1;
    }
    *spool = std::tmpfile();
    if (*spool == nullptr) {
        PrintError(kStandardInput, std::strerror(errno));
        return -1;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0) {
            return ::fileno(*spool);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || !vornish::WriteFully(::fileno(*spool), buffer, static_cast<std::size_t>(n))) {
            PrintError(kStandardInput, std::strerror(errno));
            return -1;
        }
    }
}

// The output being written, removed by the handler of a signal that ends the
// process.
vornish::ActiveOutput activeOutput;

extern "C" void RemoveOutputAndDie(int signal)
{
    if (activeOutput.armed != 0) {
        vornish::RemovePartialOutput(activeOutput.path, activeOutput.identity);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void CatchEndingSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the shell had us ignore (a background job's SIGINT) stays ignored.
        struct sigaction old;
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveOutputAndDie;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

// The outputs this run wrote, to refuse a second input that would replace
// one (a.brr and a.BRR, or two names of one file).
struct Written {
    dev_t device;
    ino_t inode;
    std::string input;
};

const Written* WrittenBefore(const std::vector<Written>& written, const std::string& output)
{
    struct stat st;
    if (::stat(output.c_str(), &st) != 0) {
        return nullptr;
    }
    for (const Written& w : written) {
        if (w.device == st.st_dev && w.inode == st.st_ino) {
            return &w;
        }
    }
    return nullptr;
}

// Whether `output` names the file INPUT reads (a hard or symbolic link to it
// included). The conversion checks again once both are open.
bool IsTheInput(const char* inputArg, const std::string& output)
{
    struct stat in;
    struct stat out;
    const int found = IsStandardStream(inputArg) ? ::fstat(STDIN_FILENO, &in) : ::stat(inputArg, &in);
    return found == 0 && S_ISREG(in.st_mode) && ::stat(output.c_str(), &out) == 0 &&
           in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// Converts one INPUT into `output` ("-": standard output); true when its WAV
// was written.
bool ConvertOne(const Options& options, const char* inputArg, const std::string& output,
                bool announce, std::vector<Written>& written)
{
    const bool toStandardOutput = IsStandardStream(output.c_str());
    const std::string inputName = IsStandardStream(inputArg) ? kStandardInput : inputArg;
    const std::string outputName = toStandardOutput ? kStandardOutput : output;
    if (announce) {
        vornish::PrintTo(options.convert.progress, "%s -> %s\n", inputName.c_str(), outputName.c_str());
    }
    if (toStandardOutput && ::isatty(STDOUT_FILENO)) {
        PrintError(kStandardOutput, "is a terminal; WAV data is not written to a terminal "
                                    "(use -o FILE, or a pipe)");
        return false;
    }
    if (!toStandardOutput) {
        if (IsTheInput(inputArg, output)) {
            PrintError(output, ("is the input file " + inputName + " itself; choose another output").c_str());
            return false;
        }
        if (const Written* earlier = WrittenBefore(written, output)) {
            PrintError(output, ("was written from " + earlier->input +
                                " in this run; not replaced by " + inputName).c_str());
            return false;
        }
    }
    vornish::FilePath input;
    input.text = inputName.c_str();
    std::FILE* spool = nullptr;
    if (IsStandardStream(inputArg) && (input.fd = OpenStandardInput(&spool)) < 0) {
        return false;
    }
    vornish::FilePath target;
    target.text = toStandardOutput ? kStandardOutput : output.c_str();
    target.fd = toStandardOutput ? STDOUT_FILENO : -1;
    const bool done = vornish::BRRConvert(input, target, options.convert) == BRR_STATUS_DONE;
    if (spool != nullptr) {
        std::fclose(spool);
    }
    struct stat st;
    if (done && !toStandardOutput && ::stat(output.c_str(), &st) == 0) {
        written.push_back(Written{st.st_dev, st.st_ino, inputName});
    }
    return done;
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
    std::vector<std::string> outputs;
    bool wavToStandardOutput = false;
    for (const char* input : options.inputs) {
        outputs.push_back(OutputFor(options, input));
        wavToStandardOutput = wavToStandardOutput || IsStandardStream(outputs.back().c_str());
    }
    vornish::ConvertOptions& convert = options.convert;
    convert.sampleForms = true;
    convert.toolMessages = true;
    convert.replaceOutput = options.force;
    convert.refuseInputAsOutput = true;
    convert.active = &activeOutput;
    // Standard output carries the WAV alone when the WAV goes there.
    convert.progress = options.quiet ? nullptr : wavToStandardOutput ? stderr : stdout;
    CatchEndingSignals();

    int exitCode = kExitOk;
    std::vector<Written> written;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        if (!ConvertOne(options, options.inputs[i], outputs[i], options.inputs.size() > 1, written)) {
            exitCode = kExitFailed;
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        std::fprintf(stderr, "brrdecode: %s: %s\n", kStandardOutput,
                     std::strerror(error != 0 ? error : EIO));
        exitCode = kExitFailed;
    }
    return exitCode;
}
