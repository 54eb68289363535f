// Where each WAV goes, which outputs the tool must not touch, standard input,
// and the tool's console lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "brrdecode.h"

namespace brrdecode {

const char kStandardInput[] = "standard input";
const char kStandardOutput[] = "standard output";

bool IsStandardStream(const char* name) { return std::strcmp(name, "-") == 0; }

void PrintError(const char* format, ...)
{
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void PrintFailure(const std::string& name, const char* reason)
{
    PrintError("brrdecode: %s: %s\n", name.c_str(), reason);
}

void PrintTo(std::FILE* stream, const char* format, ...)
{
    if (stream == nullptr) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

namespace {

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

}  // namespace

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

namespace {

// An unnamed file in $TMPDIR (default /tmp): gone when the run ends, however
// it ends. -1 with errno set.
int OpenSpool(std::string& folder)
{
    const char* tmp = std::getenv("TMPDIR");
    folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
#if defined(O_TMPFILE)
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
#endif
    std::string name = folder + "/brrdecode.XXXXXX";
    const int named = ::mkstemp(&name[0]);
    if (named >= 0) {
        ::unlink(name.c_str());
    }
    return named;
}

}  // namespace

int OpenStandardInput(int* spool)
{
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
        return STDIN_FILENO;
    }
    if (::isatty(STDIN_FILENO)) {
        PrintFailure(kStandardInput, "is a terminal; BRR data is not read from a terminal");
        return -1;
    }
    std::string folder;
    BRRFile copy;
    if ((*spool = OpenSpool(folder)) < 0 || BRRFileAdopt(&copy, *spool) != 0) {
        PrintFailure(kStandardInput, ("cannot be copied into " + folder + ": " + std::strerror(errno)).c_str());
        return -1;
    }
    char buffer[65536];
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0) {
            return *spool;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            PrintFailure(kStandardInput, std::strerror(errno));
            return -1;
        }
        // Past the largest input that can convert, more would only fill the disk.
        total += static_cast<std::uint64_t>(n);
        if (total > BRR_MAX_INPUT_SIZE) {
            PrintError("Error : BRR file %s is too large to convert.\n", kStandardInput);
            return -1;
        }
        if (BRRFileWrite(&copy, buffer, static_cast<std::size_t>(n)) != 0) {
            PrintFailure(kStandardInput, ("cannot be copied into " + folder + ": " +
                                          BRRFileErrorText(copy.error)).c_str());
            return -1;
        }
    }
}

bool IsTheInput(const char* inputArg, const std::string& output)
{
    struct stat in;
    struct stat out;
    const int found = IsStandardStream(inputArg) ? ::fstat(STDIN_FILENO, &in) : ::stat(inputArg, &in);
    return found == 0 && S_ISREG(in.st_mode) && ::stat(output.c_str(), &out) == 0 &&
           in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

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

}  // namespace brrdecode
