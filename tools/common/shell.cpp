// What both tools do alike at the shell: where each output goes, which
// outputs they must not touch, standard input, and their console lines.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "shell.h"

namespace shell {

const char* programName = "";

const char kStandardInput[] = "standard input";
const char kStandardOutput[] = "standard output";

bool IsStandardStream(const char* name) { return std::strcmp(name, "-") == 0; }

namespace {

// Prints to `stream` and flushes it, so that lines keep their order when
// standard output and error are one file.
void PrintFlushed(std::FILE* stream, const char* format, std::va_list args)
{
    std::vfprintf(stream, format, args);
    std::fflush(stream);
}

}  // namespace

void PrintError(const char* format, ...)
{
    std::fflush(stdout);  // what was printed before comes before
    std::va_list args;
    va_start(args, format);
    PrintFlushed(stderr, format, args);
    va_end(args);
}

void PrintFailure(const std::string& name, const char* reason)
{
    PrintError("%s: %s: %s\n", programName, name.c_str(), reason);
}

bool FlushStandardOutput()
{
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
        return true;
    }
    const int error = errno;
    std::fprintf(stderr, "%s: %s: %s\n", programName, kStandardOutput, std::strerror(error != 0 ? error : EIO));
    return false;
}

void PrintTo(std::FILE* stream, const char* format, ...)
{
    if (stream == nullptr) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    PrintFlushed(stream, format, args);
    va_end(args);
}

bool HasExtension(const std::string& path, const char* extension)
{
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < host::NameStart(path)) {
        return false;
    }
    std::string lower;
    for (const char c : path.substr(dot + 1)) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == nullptr || lower == extension;
}

std::string ReplaceExtension(const std::string& input, const char* from, const char* to)
{
    std::string path(input);
    if (HasExtension(path, from)) {
        path.resize(path.find_last_of('.'));
    }
    return path + "." + to;
}

namespace {

// Whether `path` names the file standard output already writes to, such as
// /dev/stdout.
bool IsOpenAsStandardOutput(const char* path)
{
    host::Identity named;
    host::Identity out;
    return host::IdentityOfPath(path, named) && host::IdentityOfDescriptor(host::kStandardOutput, out) &&
           host::SameFile(named, out);
}

}  // namespace

std::string OutputFor(const char* output, const char* outputDir, const char* input, const char* from,
                      const char* to)
{
    if (output != nullptr) {
        return IsOpenAsStandardOutput(output) ? "-" : output;
    }
    if (outputDir != nullptr) {
        const std::string name = IsStandardStream(input) ? "stdin" : input;
        return std::string(outputDir) + "/" + ReplaceExtension(name.substr(host::NameStart(name)), from, to);
    }
    return IsStandardStream(input) ? "-" : ReplaceExtension(input, from, to);
}


int OpenStandardInput(int* spool, const char* kind, std::uint64_t limit, const char* tooLarge)
{
    host::Identity in;
    if (host::IdentityOfDescriptor(host::kStandardInput, in) && in.regular) {
        return host::kStandardInput;
    }
    if (host::IsTerminal(host::kStandardInput)) {
        PrintFailure(kStandardInput, (std::string("is a terminal; ") + kind + " data is not read from a terminal").c_str());
        return -1;
    }
    std::string folder;
    BRRFile copy;
    if ((*spool = host::OpenSpool(folder)) < 0 || BRRFileAdopt(&copy, *spool) != 0) {
        PrintFailure(kStandardInput, ("cannot be copied into " + folder + ": " + std::strerror(errno)).c_str());
        return -1;
    }
    char buffer[65536];
    std::uint64_t total = 0;
    for (;;) {
        const long n = host::ReadSome(host::kStandardInput, buffer, sizeof buffer);
        if (n == 0) {
            // Readers that take the descriptor (libsndfile) start where it stands.
            if (!host::Rewind(*spool)) {
                PrintFailure(kStandardInput, std::strerror(errno));
                return -1;
            }
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
        if (total > limit) {
            PrintError(tooLarge, kStandardInput);
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
    host::Identity in;
    host::Identity out;
    const bool found = IsStandardStream(inputArg) ? host::IdentityOfDescriptor(host::kStandardInput, in)
                                                  : host::IdentityOfPath(inputArg, in);
    return found && in.regular && host::IdentityOfPath(output.c_str(), out) && host::SameFile(in, out);
}

const Written* WrittenBefore(const std::vector<Written>& written, const std::string& output)
{
    host::Identity id;
    if (!host::IdentityOfPath(output.c_str(), id)) {
        return nullptr;
    }
    for (const Written& w : written) {
        if (w.device == id.device && w.inode == id.number) {
            return &w;
        }
    }
    return nullptr;
}

void NoteWritten(std::vector<Written>& written, const std::string& output, const std::string& input)
{
    host::Identity id;
    if (!IsStandardStream(output.c_str()) && host::IdentityOfPath(output.c_str(), id)) {
        written.push_back(Written{id.device, id.number, input});
    }
}

void RefuseTheInput(const Names& names)
{
    PrintFailure(names.output, ("is the input file " + names.input + " itself; choose another output").c_str());
}

bool OpenOutput(bool force, const Names& names, const BRRFile& input, const char* kind, BRRFile* output)
{
    const int error = names.toStandardOutput
                          ? BRRFileAdopt(output, host::kStandardOutput)
                          : BRRFileOpenOutput(output, names.outputPath, host::WidePath(names.outputPath).get(),
                                              force ? 0 : 1);
    if (error != 0) {
        PrintFailure(names.output, error == BRR_FILE_EXISTS ? "file exists (use -f to overwrite)"
                                                            : BRRFileErrorText(error));
        return false;
    }
    const bool terminal = host::IsTerminal(output->descriptor);
    const bool itself = !terminal && BRRFileIsSame(output, &input) != 0;
    if (!terminal && !itself) {
        return true;
    }
    if (terminal) {
        PrintFailure(names.output, (std::string("is a terminal; ") + kind +
                                    " data is not written to a terminal (use -o FILE, or a pipe)").c_str());
    } else {
        RefuseTheInput(names);
    }
    if (!names.toStandardOutput) {
        BRRFileClose(output);
    }
    return false;
}

bool MayWrite(const char* inputArg, const std::string& output, const Names& names,
              const std::vector<Written>& written)
{
    if (names.toStandardOutput) {
        return true;
    }
    if (IsTheInput(inputArg, output)) {
        RefuseTheInput(names);
        return false;
    }
    if (const Written* earlier = WrittenBefore(written, output)) {
        PrintFailure(output, ("was written from " + earlier->input + " in this run; not replaced by " +
                              names.input).c_str());
        return false;
    }
    return true;
}

bool WriteAndPlace(BRRFile* output, bool own, const std::string& name, const void* bytes, std::size_t size)
{
    if (own) {
        ArmCleanup(*output);
    }
    int error = BRRFileWrite(output, bytes, size) != 0 ? (output->error != 0 ? output->error : EIO) : 0;
    if (own) {
        const int placed = FinishOutput(output, error == 0);
        error = error != 0 ? error : placed;
    }
    if (error != 0) {
        PrintFailure(name, error == BRR_FILE_EXISTS ? "file exists (use -f to overwrite)" : BRRFileErrorText(error));
    }
    return error == 0;
}

Names NamesFor(const char* inputArg, const std::string& output)
{
    Names names;
    names.toStandardOutput = IsStandardStream(output.c_str());
    names.input = IsStandardStream(inputArg) ? kStandardInput : inputArg;
    names.output = names.toStandardOutput ? kStandardOutput : output;
    names.outputPath = output.c_str();
    return names;
}

int OpenInput(const char* inputArg, const StandardInputRules& rules, BRRFile* input, int* spool)
{
    if (IsStandardStream(inputArg)) {
        const int fd = OpenStandardInput(spool, rules.kind, rules.limit, rules.tooLarge);
        return fd >= 0 && BRRFileAdopt(input, fd) == 0 ? fd : -1;
    }
    if (const int error = BRRFileOpenInput(input, inputArg, host::WidePath(inputArg).get()); error != 0) {
        PrintFailure(inputArg, BRRFileErrorText(error));
        return -1;
    }
    return input->descriptor;
}

void CloseInput(const char* inputArg, BRRFile* input, int spool)
{
    if (!IsStandardStream(inputArg) && input->descriptor >= 0) {
        BRRFileClose(input);
    }
    if (spool >= 0) {
        host::Close(spool);
    }
}

}  // namespace shell
