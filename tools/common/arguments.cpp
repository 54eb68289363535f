// The command line both tools share: getopt_long with the shared options,
// whole numbers, rates and rules, and the rules between the arguments.
#include <getopt.h>

#include <cctype>
#include <cstring>

#include "host.h"
#include "shell.h"

namespace shell {

bool UsageError(const std::string& message)
{
    PrintError("%s: %s\nTry '%s --help' for more information.\n", programName, message.c_str(), programName);
    return false;
}

// A whole number from `min` to `max`: decimal digits only, or with `hex`
// also 0x and hexadecimal digits.
bool ParseWholeNumber(const char* text, std::uint64_t min, std::uint64_t max, std::uint64_t& value,
                      bool hex)
{
    const bool isHex = hex && (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0);
    const unsigned base = isHex ? 16 : 10;
    const char* p = isHex ? text + 2 : text;
    if (*p == '\0') {
        return false;
    }
    std::uint64_t n = 0;
    for (; *p != '\0'; ++p) {
        const int c = std::tolower(static_cast<unsigned char>(*p));
        const unsigned digit = c >= '0' && c <= '9' ? static_cast<unsigned>(c - '0')
                               : isHex && c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10) : base;
        // Checked before the multiplication, so that no value wraps.
        if (digit >= base || n > (max - digit) / base) {
            return false;
        }
        n = n * base + digit;
    }
    value = n;
    return n >= min;
}

bool ParseCommandLine(int argc, char** argv, const std::vector<LongOption>& own, ShellOptions& options,
                      bool (*take)(void* context, int value, const char* argument), void* context,
                      const char* ownShort)
{
    const std::string shortOptions = std::string(":o:d:fqh") + ownShort;
    std::vector<option> table = {
        {"output", required_argument, nullptr, 'o'}, {"output-dir", required_argument, nullptr, 'd'},
        {"force", no_argument, nullptr, 'f'},        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, kOwnOptions - 1},
    };
    for (const LongOption& o : own) {
        table.push_back({o.name, o.takesValue ? required_argument : no_argument, nullptr, o.value});
    }
    table.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;  // the messages below say more
    int c;
    while ((c = getopt_long(argc, argv, shortOptions.c_str(), table.data(), nullptr)) != -1) {
        switch (c) {
        case 'o': options.output = optarg; break;
        case 'd': options.outputDir = optarg; break;
        case 'f': options.force = true; break;
        case 'q': options.quiet = true; break;
        case 'h': options.help = true; break;
        case kOwnOptions - 1: options.version = true; break;
        case ':': return UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
        case '?': return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
        default:
            if (!take(context, c, optarg)) {
                return false;
            }
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.inputs.push_back(argv[i]);
    }
    return true;
}

bool ParseNote(const char* text, std::uint64_t& midi)
{
    static const int kSemitones[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const int letter = std::toupper(static_cast<unsigned char>(text[0]));
    if (letter < 'A' || letter > 'G') {
        return ParseWholeNumber(text, 0, 127, midi);
    }
    int semitone = kSemitones[letter - 'A'];
    const char* p = text + 1;
    if (*p == '#' || *p == 'b') {
        semitone += *p == '#' ? 1 : -1;
        ++p;
    }
    const bool below = *p == '-';
    std::uint64_t octave = 0;
    if (!ParseWholeNumber(below ? p + 1 : p, below ? 1 : 0, below ? 1 : 9, octave)) {
        return false;
    }
    const long value = 12L * ((below ? -1L : static_cast<long>(octave)) + 1L) + semitone;
    midi = static_cast<std::uint64_t>(value);
    return value >= 0 && value <= 127;
}

bool ParseRate(const char* text, std::uint32_t& rate)
{
    std::uint64_t number = 0;
    if (!ParseWholeNumber(text, 1, 384000, number)) {
        return UsageError(std::string("invalid sample rate '") + text + "' (a whole number of Hz from 1 to 384000)");
    }
    rate = static_cast<std::uint32_t>(number);
    return true;
}

namespace {

// A name the library knows (byName gives -1 for any other), or the usage
// message naming the choices.
bool ParseName(const char* text, int (*byName)(const char*), const char* what, const char* choices,
               std::int32_t& value)
{
    const int found = byName(text);
    if (found < 0) {
        return UsageError(std::string("invalid ") + what + " '" + text + "' (" + choices + ")");
    }
    value = found;
    return true;
}

}  // namespace

bool ParseRules(const char* text, std::int32_t& rules)
{
    return ParseName(text, BRRRulesByName, "rules", "'hardware' or 'library'", rules);
}

bool ParseEffort(const char* text, std::int32_t& effort)
{
    return ParseName(text, BRREffortByName, "effort", "'fast', 'default' or 'best'", effort);
}

bool CheckShellArguments(const ShellOptions& options)
{
    if (options.inputs.empty()) {
        return UsageError("no INPUT file given");
    }
    if (options.output != nullptr && options.inputs.size() > 1) {
        return UsageError("-o/--output needs exactly one INPUT");
    }
    if (options.output != nullptr && options.outputDir != nullptr) {
        return UsageError("-o/--output and -d/--output-dir exclude each other");
    }
    return CheckDirectory(options.outputDir) && CheckStandardInputOnce(options.inputs);
}

bool CheckDirectory(const char* dir)
{
    if (dir != nullptr && !host::IsDirectory(dir)) {
        return UsageError(std::string("'") + dir + "' is not a directory");
    }
    return true;
}

bool CheckStandardInputOnce(const std::vector<const char*>& inputs)
{
    std::size_t standardInputs = 0;
    for (const char* input : inputs) {
        standardInputs += IsStandardStream(input) ? 1 : 0;
    }
    return standardInputs <= 1 || UsageError("standard input ('-') can be read only once");
}

}  // namespace shell
