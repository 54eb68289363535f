// What brrdecode and brrencode do alike at the shell: console lines, where
// an output goes, the outputs they must not touch, standard input as a file,
// and cleaning up after a signal.
#ifndef VORNISH_TOOLS_SHELL_H
#define VORNISH_TOOLS_SHELL_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "VornishAudioBRRFile.h"

// Each tool's own main (tools/common/entry.cpp calls it with UTF-8 arguments).
int ToolMain(int argc, char** argv);

namespace shell {

// The tool's name, as its messages begin: set once by main.
extern const char* programName;

// The options both tools take alike.
struct ShellOptions {
    std::vector<const char*> inputs;
    const char* output = nullptr;     // -o
    const char* outputDir = nullptr;  // -d
    bool force = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    // Where progress and reports go (nullptr: nowhere); errors always go to
    // standard error.
    std::FILE* progress = stdout;
};

// The long options of each tool take values from kOwnOptions up; the shared
// ones (-o, -d, -f, -q, -h, --version) are the shell's.
constexpr int kOwnOptions = 257;
struct LongOption {
    const char* name;
    bool takesValue;
    int value;
};

// Parses the command line with getopt_long: the shared options into
// `options`, each of `own` (and of the tool's own short options, `ownShort`
// in getopt's form: "x:") through take(value, argument) (argument null for
// options without a value; false after the usage message), the rest as
// INPUTs. False after the usage message.
bool ParseCommandLine(int argc, char** argv, const std::vector<LongOption>& own, ShellOptions& options,
                      bool (*take)(void* context, int value, const char* argument), void* context,
                      const char* ownShort = "");

// --rate HZ: 1 to 384000. --rules: 'hardware' or 'library'. --effort:
// 'fast', 'default' or 'best'. False after the usage message.
bool ParseRate(const char* text, std::uint32_t& rate);
bool ParseRules(const char* text, std::int32_t& rules);
bool ParseEffort(const char* text, std::int32_t& effort);
// A note: C4, A#3, Eb5, C-1 (C4 is MIDI 60), or a MIDI number 0..127.
bool ParseNote(const char* text, std::uint64_t& midi);

// The rules between the shared arguments; false after the usage message.
bool CheckShellArguments(const ShellOptions& options);
// That `dir` (when not null) is a directory, and that '-' is among the
// inputs at most once; false after the usage message.
bool CheckDirectory(const char* dir);
bool CheckStandardInputOnce(const std::vector<const char*>& inputs);

extern const char kStandardInput[];
extern const char kStandardOutput[];

bool IsStandardStream(const char* name);

// Prints to standard error after flushing standard output, so that the lines
// keep their order in one pipe.
void PrintError(const char* format, ...);
// "PROGRAM: NAME: REASON".
void PrintFailure(const std::string& name, const char* reason);
// Flushes standard output; false after the error line when that failed.
bool FlushStandardOutput();
// Prints to `stream` (nothing when it is null) and flushes it.
void PrintTo(std::FILE* stream, const char* format, ...);

// A job's progress on standard error when it is a terminal (never under -q,
// never into a pipe or file), rewritten in place and erased when done. Shown
// only once the job has run a while and looks to run past a second.
class ProgressLine {
public:
    // `early`: shown from the first update, however short the job looks.
    ProgressLine(const ShellOptions& options, const std::string& name, bool early = false);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(std::uint64_t done, std::uint64_t total);
    // Erases the line (before other lines are printed).
    void Clear();

private:
    std::string name_;
    bool on_;
    bool early_;
    bool shown_ = false;
    double last_ = 0;
    std::chrono::steady_clock::time_point start_;
};
// A BRRProgressFunction for a ProgressLine.
void ShowProgress(void* line, std::uint64_t done, std::uint64_t total);

// Prints "PROGRAM: MESSAGE" and the pointer to --help; returns false.
bool UsageError(const std::string& message);

// A whole number from `min` to `max`: decimal digits only, or with `hex`
// also 0x and hexadecimal digits.
bool ParseWholeNumber(const char* text, std::uint64_t min, std::uint64_t max, std::uint64_t& value,
                      bool hex = false);

// INPUT with its extension `from` (any letter case; nullptr: any extension)
// replaced by `to`, or `to` appended.
// Whether the last component of `path` ends in .EXTENSION (lower case
// here; any case in the path), or in any extension when it is null.
bool HasExtension(const std::string& path, const char* extension);
std::string ReplaceExtension(const std::string& input, const char* from, const char* to);

// Where INPUT's output goes: `output` (-o), else into `outputDir` (-d), else
// beside INPUT; "-" for standard output.
std::string OutputFor(const char* output, const char* outputDir, const char* input, const char* from,
                      const char* to);

// Standard input as a file that can be measured and reread: itself when it
// is a regular file, else a copy in an unnamed file in $TMPDIR (or /tmp),
// `*spool`, for the caller to close; no larger than `limit` (past it,
// `tooLarge` is printed with the input's name). `kind` names the data a
// terminal is refused for. Returns the descriptor, or -1 after the error line.
int OpenStandardInput(int* spool, const char* kind, std::uint64_t limit, const char* tooLarge);

// Whether `output` names the regular file INPUT reads (a hard or symbolic
// link to it included).
bool IsTheInput(const char* inputArg, const std::string& output);

// A file's bytes, read whole into memory: a mapped file that shrinks while
// it is read would end the process (SIGBUS); here a read error, an early
// end or a size past the address space is a message (ok() false).
class WholeFile {
public:
    WholeFile(const std::string& name, BRRFile& input);
    bool ok() const { return ok_; }
    std::uint8_t* data() { return copy_.data(); }
    const std::uint8_t* data() const { return copy_.data(); }
    std::uint64_t size() const { return size_; }

private:
    std::uint64_t size_;
    std::vector<std::uint8_t> copy_;
    bool ok_ = false;
};

// The outputs this run wrote, to refuse a second input that would replace
// one (a.brr and a.BRR, or two names of one file).
struct Written {
    std::uint64_t device;
    std::uint64_t inode;
    std::string input;
};
const Written* WrittenBefore(const std::vector<Written>& written, const std::string& output);
// Remembers `output` as written from `input` (not standard output).
void NoteWritten(std::vector<Written>& written, const std::string& output, const std::string& input);

// An input and its output, as messages show them.
struct Names {
    std::string input;   // "standard input" for '-'
    std::string output;  // "standard output" for '-'
    const char* outputPath;
    bool toStandardOutput;
};

// "OUTPUT: is the input file INPUT itself; choose another output".
void RefuseTheInput(const Names& names);

// The checks that need no file opened: never the input, never an output
// this run already wrote. False after the error line.
bool MayWrite(const char* inputArg, const std::string& output, const Names& names,
              const std::vector<Written>& written);

// Opens the output: standard output as it is; a path exclusively unless
// `force` (as a replacement that takes its place only when complete, for a
// regular file). Never a terminal (`kind` names the data refused), never the
// input itself. False after the error line.
bool OpenOutput(bool force, const Names& names, const BRRFile& input, const char* kind, BRRFile* output);

// What standard input may hold: the data's name for the terminal refusal,
// the most bytes kept, and the line (with %s for the input) past them.
struct StandardInputRules {
    const char* kind;
    std::uint64_t limit;
    const char* tooLarge;
};

// Runs one INPUT to one output ("-": standard output): announces it when
// asked, refuses the input itself and this run's earlier outputs, opens the
// input (standard input as a file) and calls `convert`, which writes the
// output; remembers what was written. True when `convert` succeeded.
template <typename Convert>
bool RunOne(const ShellOptions& options, const char* inputArg, const std::string& output, bool announce,
            const StandardInputRules& rules, std::vector<Written>& written, Convert convert);

// Discards the output being written, if any, when SIGINT, SIGTERM or SIGHUP
// ends the process.
void CatchEndingSignals();
void ArmCleanup(const BRRFile& file);
void DisarmCleanup();
// Commits the armed output (or, without `commit`, discards it), closes it and
// disarms the clean-up, with those signals held off meanwhile. Returns the
// commit's error.
int FinishOutput(BRRFile* output, bool commit);

// Writes `size` bytes to an opened output and, unless it is standard output
// (`own` false), puts it in place, or discards it when the write failed;
// false after the error line naming `name`.
bool WriteAndPlace(BRRFile* output, bool own, const std::string& name, const void* bytes, std::size_t size);

// RunOne's parts that need no template.
Names NamesFor(const char* inputArg, const std::string& output);
// Opens INPUT (standard input through the spool); -1 after the error line.
int OpenInput(const char* inputArg, const StandardInputRules& rules, BRRFile* input, int* spool);
void CloseInput(const char* inputArg, BRRFile* input, int spool);

template <typename Convert>
bool RunOne(const ShellOptions& options, const char* inputArg, const std::string& output, bool announce,
            const StandardInputRules& rules, std::vector<Written>& written, Convert convert)
{
    const Names names = NamesFor(inputArg, output);
    if (announce) {
        PrintTo(options.progress, "%s -> %s\n", names.input.c_str(), names.output.c_str());
    }
    if (!MayWrite(inputArg, output, names, written)) {
        return false;
    }
    BRRFile input{};
    int spool = -1;
    const bool done = OpenInput(inputArg, rules, &input, &spool) >= 0 && convert(names, input);
    CloseInput(inputArg, &input, spool);
    if (done) {
        NoteWritten(written, output, names.input);
    }
    return done;
}

// Exit statuses of both tools.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Runs every INPUT into its output (INPUT's extension `from` replaced by
// `to`, or -o, or into -d) through runOne(input, output, announce, written):
// console lines go to standard error when an output is standard output, and
// nowhere with -q. Returns the exit status.
template <typename RunOne>
int RunAll(ShellOptions& options, const char* from, const char* to, RunOne runOne)
{
    std::vector<std::string> outputs;
    bool toStandardOutput = false;
    for (const char* input : options.inputs) {
        outputs.push_back(OutputFor(options.output, options.outputDir, input, from, to));
        toStandardOutput = toStandardOutput || IsStandardStream(outputs.back().c_str());
    }
    options.progress = options.quiet ? nullptr : toStandardOutput ? stderr : stdout;
    CatchEndingSignals();
    int exitCode = kExitOk;
    std::vector<Written> written;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        if (!runOne(options.inputs[i], outputs[i], options.inputs.size() > 1, written)) {
            exitCode = kExitFailed;
        }
    }
    return FlushStandardOutput() ? exitCode : kExitFailed;
}

}  // namespace shell

#endif
