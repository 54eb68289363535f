// The brrdecode command-line tool, run as a separate process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "VornishAudioBRR.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::ScratchDir;

namespace {

const Bytes kOneBlock = {0xC1, 0x7F, 0, 0, 0, 0, 0, 0, 0};

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& arg)
{
    std::string quoted = "'";
    for (const char c : arg) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs a shell `command`, its standard output and error captured in `dir`.
ToolRun RunCaptured(const ScratchDir& dir, const std::string& command)
{
    const std::string full = command + " >" + Quote(dir.Path(".out")) + " 2>" + Quote(dir.Path(".err")) +
                             " </dev/null";
    ToolRun run;
    const int status = std::system(full.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes out = testsupport::ReadFile(dir.Path(".out"));
    const Bytes err = testsupport::ReadFile(dir.Path(".err"));
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
}

// Runs brrdecode with `args` in `dir`. BRRDECODE_COMMAND is the tool's path,
// quoted for the shell (behind an emulator in cross builds).
ToolRun RunTool(const ScratchDir& dir, const std::vector<std::string>& args, const char* tool = BRRDECODE_COMMAND)
{
    std::string command = "cd " + Quote(dir.dir) + " && " + tool;
    for (const std::string& arg : args) {
        command += " " + Quote(arg);
    }
    return RunCaptured(dir, command);
}

TEST(Tool, HelpAndVersion)
{
    ScratchDir scratch;
    for (const char* option : {"-h", "--help"}) {
        const ToolRun run = RunTool(scratch, {option});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.out, "");
        EXPECT_EQ(run.err, "");
    }
    const ToolRun version = RunTool(scratch, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "brrdecode " + std::to_string(BRR_VERSION_MAJOR) + "." + std::to_string(BRR_VERSION_MINOR) +
                               "." + std::to_string(BRR_VERSION_PATCH) + "\n");
}

TEST(Tool, UsageErrorsExitWithTwo)
{
    ScratchDir scratch;
    testsupport::WriteFile(scratch.Path("a.brr"), kOneBlock);
    testsupport::WriteFile(scratch.Path("b.brr"), kOneBlock);
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bogus", "a.brr"},
        {"-x", "a.brr"},
        {"-o", "out.wav", "a.brr", "b.brr"},
        {"a.brr", "-o"},
        {"--play", "4096", "--rate", "8000", "a.brr"},
        {"--play", "4096", "--play-rate", "8000", "a.brr"},
        {"--pitch", "0x800", "--play", "4096", "a.brr"},
    };
    for (const auto& args : cases) {
        const ToolRun run = RunTool(scratch, args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        // One line saying what is wrong, one pointing to --help.
        EXPECT_EQ(run.err.rfind("brrdecode: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\nTry 'brrdecode --help' for more information.\n"), std::string::npos)
            << run.err;
    }
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("a.wav")));
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("out.wav")));
}

TEST(Tool, OutputNamesFollowTheInput)
{
    struct Case {
        const char* input;
        const char* output;
    };
    const Case cases[] = {
        {"plain.brr", "plain.wav"}, {"upper.BRR", "upper.wav"}, {"mixed.bRr", "mixed.wav"},
        {"other.bin", "other.bin.wav"}, {"bare", "bare.wav"}, {"two.brr.brr", "two.brr.wav"},
    };
    ScratchDir scratch;
    std::vector<std::string> args;
    std::string expectedOut;
    for (const Case& c : cases) {
        testsupport::WriteFile(scratch.Path(c.input), kOneBlock);
        args.emplace_back(c.input);
        expectedOut += std::string(c.input) + " -> " + c.output + "\nNumber of BRR blocks to decode : 1.\nDone !\n";
    }
    const ToolRun run = RunTool(scratch, args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, expectedOut);
    EXPECT_EQ(run.err, "");
    for (const Case& c : cases) {
        EXPECT_EQ(testsupport::ReadFile(scratch.Path(c.output)).size(), 76u) << c.output;
    }
}

TEST(Tool, ExplicitOutput)
{
    ScratchDir scratch;
    testsupport::WriteFile(scratch.Path("in.brr"), kOneBlock);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-o", "a.wav", "in.brr"}, {"in.brr", "--output", "b.wav"}, {"--output=c.wav", "in.brr"}}) {
        EXPECT_EQ(RunTool(scratch, args).exitCode, 0);
    }
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        EXPECT_EQ(testsupport::ReadFile(scratch.Path(name)).size(), 76u) << name;
    }
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("in.wav")));
}

TEST(Tool, FailedInputsDoNotStopTheOthers)
{
    ScratchDir scratch;
    testsupport::WriteFile(scratch.Path("good.brr"), kOneBlock);
    testsupport::WriteFile(scratch.Path("odd.brr"), Bytes(10, 0));
    testsupport::WriteFile(scratch.Path("last.brr"), kOneBlock);
    const ToolRun run = RunTool(scratch, {"missing.brr", "odd.brr", "good.brr", "last.brr"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "brrdecode: missing.brr: No such file or directory\n"
              "Error : Size of BRR file odd.brr isn't a multiple of 9 bytes.\n");
    EXPECT_EQ(run.out,
              "missing.brr -> missing.wav\nodd.brr -> odd.wav\n"
              "good.brr -> good.wav\nNumber of BRR blocks to decode : 1.\nDone !\n"
              "last.brr -> last.wav\nNumber of BRR blocks to decode : 1.\nDone !\n");
    EXPECT_TRUE(testsupport::FileExists(scratch.Path("good.wav")));
    EXPECT_TRUE(testsupport::FileExists(scratch.Path("last.wav")));
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("odd.wav")));
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("missing.wav")));
    // An output that cannot be opened fails that file only, too.
    const ToolRun unwritable = RunTool(scratch, {"-o", "no/dir/x.wav", "good.brr"});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_EQ(unwritable.err, "brrdecode: no/dir/x.wav: No such file or directory\n");
}

TEST(Tool, ConsoleLinesKeepTheirOrderInOnePipe)
{
    ScratchDir scratch;
    testsupport::WriteFile(scratch.Path("good.brr"), kOneBlock);
    testsupport::WriteFile(scratch.Path("empty.brr"), {});
    const std::string command = "cd " + Quote(scratch.dir) + " && " + BRRDECODE_COMMAND +
                                " good.brr empty.brr good.brr 2>&1 | cat > both.txt";
    std::system(command.c_str());
    const Bytes both = testsupport::ReadFile(scratch.Path("both.txt"));
    EXPECT_EQ(std::string(both.begin(), both.end()),
              "good.brr -> good.wav\nNumber of BRR blocks to decode : 1.\nDone !\n"
              "empty.brr -> empty.wav\n"
              "Number of BRR blocks to decode : 0.\nError : empty.brr holds no block.\n"
              "good.brr -> good.wav\n"
              "brrdecode: good.wav: was written from good.brr in this run; not replaced by good.brr\n");
}

}  // namespace

namespace {

TEST(Tool, LoopsAndRate)
{
    ScratchDir scratch;
    const Bytes carried = {0xC4, 0x77, 0x77, 0, 0, 0, 0, 0, 0, 0xC1, 0x10, 0, 0, 0, 0, 0, 0, 0};
    testsupport::WriteFile(scratch.Path("in.brr"), carried);
    const ToolRun run = RunTool(scratch, {"--rules", "library", "--loops", "4", "--rate", "32000", "-o", "out.wav", "in.brr"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              "Number of BRR blocks to decode : 2.\n"
              " (probable note : B 5 +21 cents)\n"
              "Looping is stable.\n"
              "Done !\n");
    EXPECT_EQ(run.err, "Warning : in.brr does not loop (its end block has no loop flag); --loops repeats it whole.\n");
    testsupport::ReferenceDecoder reference;
    Bytes four;
    for (int i = 0; i < 4; ++i) {
        four.insert(four.end(), carried.begin(), carried.end());
    }
    EXPECT_EQ(testsupport::ReadFile(scratch.Path("out.wav")),
              testsupport::ExpectedWav(32000, reference.DecodeBlocks(four)));
}

// The hardware's rules by default, the library's on request, each bit for bit
// as the plain decoder has them, over random blocks: every range (13 to 15
// among them) and filter, with clamps and wraps.
TEST(Tool, RulesAreTheHardwaresByDefault)
{
    ScratchDir scratch;
    const Bytes blocks = testsupport::RandomBytes(9 * 3000, 12);
    testsupport::WriteFile(scratch.Path("in.brr"), blocks);
    for (const bool hardware : {true, false}) {
        const std::vector<std::string> rules = hardware ? std::vector<std::string>{}
                                                        : std::vector<std::string>{"--rules", "library"};
        std::vector<std::string> args = rules;
        args.insert(args.end(), {"-q", "-f", "-o", "out.wav", "in.brr"});
        EXPECT_EQ(RunTool(scratch, args).exitCode, 0);
        testsupport::ReferenceDecoder reference;
        reference.hardware = hardware;
        const testsupport::Samples expected = reference.DecodeBlocks(blocks);
        EXPECT_EQ(testsupport::ReadFile(scratch.Path("out.wav")), testsupport::ExpectedWav(32000, expected))
            << (hardware ? "hardware" : "library");
        EXPECT_GT(reference.clampedHigh[2] + reference.clampedLow[3], 0u);
    }
}

// A 32-bit host refuses an image larger than its address space with the
// reason, rather than read it into a buffer of its size modulo 2^32.
TEST(Tool, ScanRefusesAnImagePastTheAddressSpace)
{
    if (sizeof(void*) > 4) {
        GTEST_SKIP() << "a 64-bit host's address space holds any file";
    }
    ScratchDir scratch;
    const std::string in = scratch.Path("huge.bin");
    testsupport::WriteFile(in, kOneBlock);
    ASSERT_EQ(::truncate(in.c_str(), static_cast<off_t>((std::uint64_t{1} << 32) + 18)), 0);
    const ToolRun run = RunTool(scratch, {"huge.bin"}, BRRSCAN_COMMAND);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("huge.bin: is 4294967314 bytes, more than this system's address space holds"),
              std::string::npos) << run.err;
}

TEST(Tool, BadLoopsOrRateAreUsageErrors)
{
    ScratchDir scratch;
    testsupport::WriteFile(scratch.Path("in.brr"), kOneBlock);
    const std::vector<std::vector<std::string>> cases = {
        {"--loops", "0", "in.brr"},      {"--loops", "3201", "in.brr"}, {"--loops", "x", "in.brr"},
        {"--loops=", "in.brr"},          {"--loops", "-1", "in.brr"},   {"--loops", "2.5", "in.brr"},
        {"--rate", "0", "in.brr"},       {"--rate", "384001", "in.brr"}, {"--rate=8k", "in.brr"},
        {"--rate", "99999999999999999999", "in.brr"}, {"in.brr", "--loops"},
        {"--rules", "chip", "in.brr"},   {"--play", "0", "in.brr"},     {"--play", "16384", "in.brr"},
        {"--play", "0x4000", "in.brr"},  {"--play-rate", "3", "in.brr"}, {"--root-note", "H4", "in.brr"},
        {"--root-note", "128", "in.brr"}, {"--root-note", "G#9", "in.brr"},
    };
    for (const auto& args : cases) {
        const ToolRun run = RunTool(scratch, args);
        EXPECT_EQ(run.exitCode, 2) << args[0] << " " << args[1];
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("--help"), std::string::npos);
    }
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("in.wav")));
    EXPECT_EQ(RunTool(scratch, {"--loops=3200", "--rate=384000", "in.brr"}).exitCode, 0);
    EXPECT_EQ(RunTool(scratch, {"-f", "--loops", "1", "--rate", "1", "in.brr"}).exitCode, 0);
    EXPECT_EQ(RunTool(scratch, {"-f", "--play", "0x3FFF", "--root-note", "C-1", "in.brr"}).exitCode, 0);
    EXPECT_EQ(RunTool(scratch, {"-f", "--play-rate", "127996", "--root-note", "F#9", "in.brr"}).exitCode, 0);
}

}  // namespace

namespace {

// Five blocks with the given headers and fixed random data; `loopHeader`
// (>= 0) puts a 2-byte loop header in front.
Bytes SampleFile(const std::vector<std::uint8_t>& headers, int loopHeader)
{
    const Bytes data = testsupport::RandomBytes(8 * headers.size(), 21);
    Bytes file;
    if (loopHeader >= 0) {
        file = {static_cast<std::uint8_t>(loopHeader), static_cast<std::uint8_t>(loopHeader >> 8)};
    }
    for (std::size_t b = 0; b < headers.size(); ++b) {
        file.push_back(headers[b]);
        file.insert(file.end(), data.begin() + static_cast<long>(8 * b),
                    data.begin() + static_cast<long>(8 * b + 8));
    }
    return file;
}

Bytes Hex(const char* text)
{
    Bytes bytes;
    for (const char* p = text; p[0] != '\0';) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

// The smpl chunks of the table below, byte for byte: one forward loop from
// the first sample of the last pass to the last sample, played forever,
// sample period 125000 ns (8000 Hz) or 31250 ns (32000 Hz); unity note 60,
// or the probable note: E 5 +19 cents is MIDI 76 and 0.19 * 2^32, B 2 +21
// MIDI 47 and 0.21 * 2^32.
const Bytes kSmplLoop32To79 = Hex("736d706c 3c000000 00000000 00000000 48e80100 3c000000 00000000 00000000"
                                  "00000000 01000000 00000000 00000000 00000000 20000000 4f000000 00000000 00000000");
const Bytes kSmplLoop128To175At32kE5 = Hex("736d706c 3c000000 00000000 00000000 127a0000 4c000000 0ad7a330 00000000"
                                           "00000000 01000000 00000000 00000000 00000000 80000000 af000000 00000000 00000000");
const Bytes kSmplLoop80To143B2 = Hex("736d706c 3c000000 00000000 00000000 48e80100 2f000000 5c8fc235 00000000"
                                     "00000000 01000000 00000000 00000000 00000000 50000000 8f000000 00000000 00000000");

// The samples a sampler plays: blocks [0, B) once, then [S, B) again for
// every further pass, the history carried on; then the `smpl` chunk given.
Bytes ExpectedRendering(const Bytes& file, std::size_t offset, std::size_t blocks, std::size_t loopStart,
                        std::uint32_t passes, std::uint32_t rate, const Bytes& smpl)
{
    testsupport::ReferenceDecoder reference;
    const auto at = [&](std::size_t block) { return file.begin() + static_cast<long>(offset + 9 * block); };
    testsupport::Samples samples = reference.DecodeBlocks(Bytes(at(0), at(blocks)));
    for (std::uint32_t pass = 1; pass < passes; ++pass) {
        const testsupport::Samples again = reference.DecodeBlocks(Bytes(at(loopStart), at(blocks)));
        samples.insert(samples.end(), again.begin(), again.end());
    }
    Bytes wav = testsupport::ExpectedWav(rate, samples);
    const std::uint32_t riff = (wav[4] | wav[5] << 8u) + static_cast<std::uint32_t>(smpl.size());  // small files only
    wav[4] = static_cast<std::uint8_t>(riff);
    wav[5] = static_cast<std::uint8_t>(riff >> 8u);
    wav.insert(wav.end(), smpl.begin(), smpl.end());
    return wav;
}

// One file through the tool, today's bytes (the library's rules at 8000 Hz)
// unless the case says otherwise: its lines and its WAV.
struct FormsCase {
    const char* name;
    Bytes file;
    std::vector<std::string> args;
    int exitCode;
    std::string out, err;
    // The rendering expected: blocks decoded, loop start, passes, smpl chunk.
    std::size_t blocks, loopStart;
    std::uint32_t passes;
    const Bytes& smpl;
};

void CheckForms(const FormsCase& c)
{
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    testsupport::WriteFile(scratch.Path("in.brr"), c.file);
    // Today's bytes: the library's rules at 8000 Hz, unless the case says otherwise.
    std::vector<std::string> args = {"--rules", "library", "--rate", "8000"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"-o", "out.wav", "in.brr"});
    const ToolRun run = RunTool(scratch, args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    if (c.passes == 0) {
        EXPECT_FALSE(testsupport::FileExists(scratch.Path("out.wav")));
        return;
    }
    const std::uint32_t rate = c.args.size() > 3 && c.args[2] == "--rate" ? 32000 : 8000;
    const bool headerRead = c.file.size() % 9 == 2 && (c.args.empty() || c.args[0] != "--no-header");
    // loops_without_loop_flag repeats the whole file.
    EXPECT_EQ(testsupport::ReadFile(scratch.Path("out.wav")),
              ExpectedRendering(c.file, headerRead ? 2 : 0, c.blocks, c.loopStart, c.passes, rate, c.smpl));
}

// Filter 0 at the loop start keeps the loop stable; the other blocks use
// filters 1 to 3 so that the carried history shows.
const std::vector<std::uint8_t> kLooping = {0xB4, 0xC8, 0xB0, 0xAC, 0x97};  // last: end + loop
const std::vector<std::uint8_t> kEnding = {0xB4, 0xC8, 0xB1, 0xAC, 0x94};   // end at block 2
const std::vector<std::uint8_t> kPlain = {0xB4, 0xC8, 0xB0, 0xAC, 0x95};    // last: end
const std::string kCount5 = "Number of BRR blocks to decode : 5.\n";
const std::string kBadHeader = "Error : Loop header of in.brr is not a block offset inside the sample; use "
                               "--no-header if the file has none, or --loop-start S.\n";

// The loop header read, refused or overridden, and bytes past the last block.
TEST(Tool, SampleFormsAndTheirLoopHeaders)
{
    const std::string sizeError = "Error : Size of BRR file in.brr isn't a multiple of 9 bytes.\n";
    Bytes strayBytes = SampleFile(kPlain, -1);  // a plain sample with two stray bytes at its end
    strayBytes.insert(strayBytes.end(), {0x12, 0x34});
    const Bytes none;
    const FormsCase cases[] = {
        {"header_and_flags", SampleFile(kLooping, 18), {}, 0,
         kCount5 + "Loop start : block 2.\nDone !\n", "", 5, 2, 1, kSmplLoop32To79},
        {"header_flags_loops_rate", SampleFile(kLooping, 18), {"--loops", "3", "--rate", "32000"}, 0,
         kCount5 + "Loop start : block 2.\n (probable note : E 5 +19 cents)\nLoop seam : 3.98 dB.\nLooping is stable.\nDone !\n",
         "", 5, 2, 3, kSmplLoop128To175At32kE5},
        {"header_without_flags", SampleFile(kPlain, 27), {}, 0, kCount5 + "Loop start : block 3.\nDone !\n",
         "", 5, 3, 1, none},
        {"header_not_a_block", SampleFile(kLooping, 10), {}, 1, kCount5, kBadHeader, 0, 0, 0, none},
        {"header_past_the_end", SampleFile(kLooping, 45), {"--loops", "2"}, 1, kCount5, kBadHeader, 0, 0, 0, none},
        {"stray_bytes", strayBytes, {}, 1, kCount5, kBadHeader, 0, 0, 0, none},
        {"stray_bytes_no_header", strayBytes, {"--no-header"}, 0, kCount5 + "Done !\n",
         "Warning : in.brr has 2 bytes after its last block; ignored.\n", 5, 0, 1, none},
        {"loop_start_overrides_bad_header", SampleFile(kLooping, 10), {"--loop-start", "1", "--no-smpl"}, 0,
         kCount5 + "Loop start : block 1.\nDone !\n", "", 5, 1, 1, none},
        {"size_5_mod_9", Bytes(5 + 9, 0), {}, 1, "", sizeError, 0, 0, 0, none},
    };
    for (const FormsCase& c : cases) {
        CheckForms(c);
    }
}

// The end and loop flags, --stop-at-end, --loop-start and --loops.
TEST(Tool, FlagsAndLoopOptions)
{
    const std::vector<std::uint8_t> unended = {0xB4, 0xC8, 0xB0, 0xAC, 0x94};
    const Bytes none;
    const FormsCase cases[] = {
        {"no_end_block", SampleFile(unended, -1), {}, 0, kCount5 + "Done !\n",
         "Warning : in.brr has no end block (no block has the end flag); the sample may be cut short.\n", 5, 0, 1,
         none},
        {"blocks_after_end", SampleFile(kEnding, -1), {}, 0, kCount5 + "Done !\n",
         "Warning : in.brr has 2 blocks after its end block; --stop-at-end leaves them out.\n", 5, 0, 1, none},
        {"stop_at_end", SampleFile(kEnding, -1), {"--stop-at-end"}, 0,
         "Number of BRR blocks to decode : 3.\nDone !\n", "", 3, 0, 1, none},
        {"stop_at_end_header_past_it", SampleFile(kEnding, 27), {"--stop-at-end"}, 1,
         "Number of BRR blocks to decode : 3.\n", kBadHeader, 0, 0, 0, none},
        {"loop_start_option", SampleFile(kPlain, -1), {"--loop-start", "1", "--loops", "2"}, 0,
         kCount5 + "Loop start : block 1.\n (probable note : B 2 +21 cents)\nLoop seam : 0.83 dB.\nLooping is unstable, try a "
                  "larger number of loops to figure the length until the sample repeats.\nDone !\n",
         "", 5, 1, 2, kSmplLoop80To143B2},
        {"loop_start_overrides_header", SampleFile(kLooping, 18), {"--loop-start=4", "--no-smpl"}, 0,
         kCount5 + "Loop start : block 4.\nDone !\n", "", 5, 4, 1, none},
        {"loop_start_outside", SampleFile(kPlain, -1), {"--loop-start", "5"}, 1, kCount5,
         "Error : Loop start 5 is outside in.brr (5 blocks).\n", 0, 0, 0, none},
        {"loops_without_loop_flag", SampleFile(kPlain, -1), {"--loops", "2"}, 0,
         kCount5 + " (probable note : G 2 +35 cents)\nLooping is unstable, try a larger number of loops to "
                  "figure the length until the sample repeats.\nDone !\n",
         "Warning : in.brr does not loop (its end block has no loop flag); --loops repeats it whole.\n", 5, 0, 2,
         none},
    };
    for (const FormsCase& c : cases) {
        CheckForms(c);
    }
}

// A WAV reader of the platform's own reads the loop back, and the root note:
// the probable note (E 5 +19 cents: MIDI 76 and 0.19 of a semitone, which
// sndfile-info shows as 2^31 over the fraction), or the one given.
TEST(Tool, SmplLoopAndRootNoteReadBack)
{
    if (std::system("command -v sndfile-info >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "sndfile-info is not installed";
    }
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{"--loops", "3"}, {"Loop Count   : 1", "Start :   128  End :   175", "Frames      : 176",
                            "Midi Note    : 76", "Pitch Fract. : 2.631579"}},
        {{"--loops", "3", "--root-note", "A#3"}, {"Midi Note    : 58", "Pitch Fract. : 0\n"}},
        {{"--root-note", "61"}, {"Start :    32  End :    79", "Midi Note    : 61"}},
    };
    for (const Case& c : cases) {
        ScratchDir scratch;
        testsupport::WriteFile(scratch.Path("in.brr"), SampleFile({0xB4, 0xC8, 0xB0, 0xAC, 0x97}, 18));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", "out.wav", "in.brr"});
        ASSERT_EQ(RunTool(scratch, args).exitCode, 0);
        const ToolRun info = RunCaptured(scratch, "sndfile-info " + Quote(scratch.Path("out.wav")));
        for (const std::string& line : c.lines) {
            EXPECT_NE(info.out.find(line), std::string::npos) << line << " in\n" << info.out;
        }
    }
}

// With a smpl chunk the WAV holds at most 134,217,724 blocks.
TEST(Tool, SizeLimitCountsTheSmplChunk)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("huge.brr");
    testsupport::WriteFile(in, {});
    ASSERT_EQ(::truncate(in.c_str(), static_cast<off_t>(9ull * 134217725u)), 0);
    const ToolRun run = RunTool(scratch, {"--loop-start", "0", "-o", "out.wav", "huge.brr"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Number of BRR blocks to decode : 134217725.\nLoop start : block 0.\n");
    EXPECT_EQ(run.err, "Error : BRR file huge.brr is too large to convert.\n");
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("out.wav")));
}

}  // namespace

namespace {

// Runs a shell snippet in `dir` with $BRR naming a script that execs the
// tool; the snippet's own redirections win over the capture of its output.
ToolRun RunShell(const ScratchDir& dir, const std::string& snippet)
{
    const std::string wrapper = "#!/bin/sh\nexec " + std::string(BRRDECODE_COMMAND) + " \"$@\"\n";
    testsupport::WriteFile(dir.Path("brr"), Bytes(wrapper.begin(), wrapper.end()));
    ::chmod(dir.Path("brr").c_str(), 0755);
    return RunCaptured(dir, "cd " + Quote(dir.dir) + " && BRR=./brr && { " + snippet + "\n}");
}

const Bytes kTwoBlocks = {0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0xC1, 0x12, 0, 0, 0, 0, 0, 0, 0};
const Bytes kKeep = {'k', 'e', 'e', 'p'};
const Bytes kMissing;  // the file must not exist
const std::string kCount1 = "Number of BRR blocks to decode : 1.\n";
const std::string kDone = "Done !\n";

// The WAV of kOneBlock, the same under either rule set.
Bytes OneBlockWav()
{
    testsupport::Samples oneBlock(16, 0);
    oneBlock[0] = 28672;
    oneBlock[1] = -4096;
    return testsupport::ExpectedWav(32000, oneBlock);
}

// A shell snippet run in a folder that holds a.brr, b.brr and big.brr
// ($BRR is the tool): its exit status, its lines, and the files it leaves.
struct ShellCase {
    const char* name;
    std::string snippet;
    int exitCode;
    std::string out, err;
    std::vector<std::pair<std::string, Bytes>> files;  // path, expected bytes
};

void RunShellCases(const std::vector<ShellCase>& cases)
{
    for (const ShellCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch;
        testsupport::WriteFile(scratch.Path("a.brr"), kOneBlock);
        testsupport::WriteFile(scratch.Path("b.brr"), kTwoBlocks);
        Bytes big(9 * 7281, 0);
        big[9 * 7280] = 0x03;  // a sample that loops: --loops plays it without a warning
        testsupport::WriteFile(scratch.Path("big.brr"), big);
        const ToolRun run = RunShell(scratch, c.snippet);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        for (const auto& file : c.files) {
            EXPECT_EQ(testsupport::FileExists(scratch.Path(file.first)), !file.second.empty()) << file.first;
            if (!file.second.empty()) {
                EXPECT_EQ(testsupport::ReadFile(scratch.Path(file.first)), file.second) << file.first;
            }
        }
    }
}

// Outputs: never replaced without -f, never the input, named as asked, each
// failure with its reason.
TEST(Tool, ShellOutputs)
{
    const Bytes kWav = OneBlockWav();
    const std::string count1 = kCount1;
    const std::string count2 = "Number of BRR blocks to decode : 2.\n";
    const std::string done = kDone;
    RunShellCases({
        {"existing_output_kept", "printf keep > a.wav; $BRR a.brr", 1, "",
         "brrdecode: a.wav: file exists (use -f to overwrite)\n", {{"a.wav", kKeep}}},
        {"force_replaces", "printf keep > a.wav; $BRR -f a.brr", 0, count1 + done, "", {{"a.wav", kWav}}},
        {"same_path", "$BRR -f -o a.brr a.brr", 1, "",
         "brrdecode: a.brr: is the input file a.brr itself; choose another output\n",
         {{"a.brr", kOneBlock}}},
        {"hard_link", "ln a.brr h.wav; $BRR -f -o h.wav a.brr", 1, "",
         "brrdecode: h.wav: is the input file a.brr itself; choose another output\n",
         {{"a.brr", kOneBlock}}},
        {"symbolic_link", "ln -s a.brr s.wav; $BRR -o s.wav a.brr", 1, "",
         "brrdecode: s.wav: is the input file a.brr itself; choose another output\n",
         {{"a.brr", kOneBlock}}},
        {"collision", "cp b.brr a.BRR; $BRR a.brr a.BRR", 1,
         "a.brr -> a.wav\n" + count1 + done + "a.BRR -> a.wav\n",
         "brrdecode: a.wav: was written from a.brr in this run; not replaced by a.BRR\n",
         {{"a.wav", kWav}}},
        {"output_dir", "mkdir d; $BRR -d d a.brr b.brr", 0,
         "a.brr -> d/a.wav\n" + count1 + done + "b.brr -> d/b.wav\n" + count2 + done, "",
         {{"d/a.wav", kWav}, {"a.wav", kMissing}}},
        {"output_dir_missing", "$BRR -d nowhere a.brr", 2, "",
         "brrdecode: 'nowhere' is not a directory\nTry 'brrdecode --help' for more information.\n", {}},
        {"quiet", "$BRR -q a.brr", 0, "", "", {{"a.wav", kWav}}},
        {"reasons", "mkdir dir; mkfifo f.brr; $BRR missing.brr dir f.brr", 1,
         "missing.brr -> missing.wav\ndir -> dir.wav\nf.brr -> f.wav\n",
         "brrdecode: missing.brr: No such file or directory\nbrrdecode: dir: Is a directory\n"
         "brrdecode: f.brr: Not a regular file\n",
         {}},
        {"output_reason", "$BRR -o no/x.wav a.brr", 1, "",
         "brrdecode: no/x.wav: No such file or directory\n", {}},
        {"stdout_is_the_input", "$BRR -o - a.brr 1<>a.brr", 1, "",
         "brrdecode: standard output: is the input file a.brr itself; choose another output\n",
         {{"a.brr", kOneBlock}}},
        {"output_open_as_the_input", "$BRR -o a.brr a.brr 1<>a.brr", 1, "",
         "brrdecode: standard output: is the input file a.brr itself; choose another output\n",
         {{"a.brr", kOneBlock}}},
        {"mode_kept", "printf keep > m.wav; chmod 640 m.wav; $BRR -q -f -o m.wav a.brr; stat -c %a m.wav", 0,
         "640\n", "", {{"m.wav", kWav}}},
        {"link_followed", "printf keep > t.wav; ln -s t.wav l.wav; $BRR -q -f -o l.wav a.brr; [ -L l.wav ] && echo link",
         0, "link\n", "", {{"t.wav", kWav}}},
        {"full_stdout", "$BRR a.brr > /dev/full", 1, "",
         "brrdecode: standard output: No space left on device\n", {{"a.wav", kWav}}},
    });
}

// Streams, signals mid-write, and the lines of odd inputs.
TEST(Tool, ShellStreamsAndSignals)
{
    const Bytes kWav = OneBlockWav();
    const std::string count1 = kCount1;
    const std::string done = kDone;
    // A background job starts with SIGINT ignored; perl restores the default
    // before it execs the tool. The signal comes once the tool has written a
    // megabyte of its WAV (which has no name yet), and then the folder must
    // hold what it held before.
    const auto killMidWrite = [](const std::string& options, const std::string& signal) {
        return "perl -e '$SIG{INT}=\"DEFAULT\"; exec @ARGV' $BRR -q " + options + " --loops 3200 --loop-start 0 big.brr &\n"
               "pid=$!; while [ \"$(sed -n 's/^wchar: //p' /proc/$pid/io)\" -lt 1000000 ]; do sleep 0.01; done\n"
               "kill -" + signal + " $pid; { wait $pid; } 2>/dev/null; echo $?; ls -A | grep -v '^\\.[oe]'\n";
    };
    const std::string before = "a.brr\nb.brr\nbig.brr\nbrr\n";
    RunShellCases({
        {"stdin_file", "$BRR - < a.brr > out.wav", 0, "", count1 + done, {{"out.wav", kWav}}},
        {"stdin_pipe", "cat a.brr | $BRR - > out.wav", 0, "", count1 + done, {{"out.wav", kWav}}},
        {"stdout", "$BRR -o - a.brr > out.wav", 0, "", count1 + done,
         {{"out.wav", kWav}, {"a.wav", kMissing}}},
        {"dev_stdout", "$BRR -o /dev/stdout a.brr | cat > out.wav", 0, "", count1 + done,
         {{"out.wav", kWav}}},
        {"terminal", "script -qec \"$BRR -o - a.brr\" /dev/null > /dev/null", 1, "", "", {}},
        {"sigint_mid_write", killMidWrite("", "INT"), 0, "130\n" + before, "", {{"big.wav", kMissing}}},
        {"sigterm_mid_write", killMidWrite("", "TERM"), 0, "143\n" + before, "", {{"big.wav", kMissing}}},
        {"sigkill_mid_write", killMidWrite("", "KILL"), 0, "137\n" + before, "", {{"big.wav", kMissing}}},
        {"sigint_mid_replace", "printf keep > big.wav; " + killMidWrite("-f", "INT"), 0,
         "130\na.brr\nb.brr\nbig.brr\nbig.wav\nbrr\n", "", {{"big.wav", kKeep}}},
        {"sigkill_mid_replace", "printf keep > big.wav; " + killMidWrite("-f", "KILL"), 0,
         "137\na.brr\nb.brr\nbig.brr\nbig.wav\nbrr\n", "", {{"big.wav", kKeep}}},
        {"dev_tty", "script -qec \"$BRR -o /dev/tty a.brr\" t.log > /dev/null; echo $?; grep -c RIFF t.log || true", 0,
         "1\n0\n", "", {}},
        {"spool_write_fails", "mkdir t; trap '' XFSZ; cat big.brr | TMPDIR=t prlimit --fsize=4096 $BRR - -o o.wav; "
                              "echo $?; ls -A t", 0, "1\n",
         "brrdecode: standard input: cannot be copied into t: File too large\n", {{"o.wav", kMissing}}},
        {"audio_file", "printf 'RIFF\\0\\0\\0\\0WAVEfmt ' > w.brr; $BRR w.brr", 1, "",
         "Error : w.brr is a WAV audio file, not BRR blocks; brrencode encodes it.\n", {{"w.wav", kMissing}}},
        {"loop_flag_without_start", "printf '\\3\\0\\0\\0\\0\\0\\0\\0\\0' > l.brr; $BRR -q --loops 2 l.brr", 0, "",
         "Warning : l.brr loops but holds no loop start; the whole sample repeats. Use --loop-start S or a file "
         "with a loop header.\n", {}},
        {"pitch_sets_the_rate", "$BRR -q --pitch 0x0B06 -o p.wav a.brr; od -An -tu4 -j24 -N4 p.wav | tr -d ' '", 0,
         "22047\n", "", {}},
    });
}

// A full disk: a small tmpfs, mounted in a mount namespace of the test's own
// (unshare -rm needs no privilege). The old file stays byte for byte and
// nothing else is left in the folder.
TEST(Tool, FullDiskLeavesTheOldFile)
{
    ScratchDir scratch;
    if (RunCaptured(scratch, "unshare -rm true").exitCode != 0) {
        GTEST_SKIP() << "no mount namespace to be had";
    }
    Bytes big(9 * 7281, 0);
    big[9 * 7280] = BRR_END_FLAG;
    testsupport::WriteFile(scratch.Path("big.brr"), big);
    const ToolRun run = RunShell(scratch, "mkdir full; unshare -rm sh -c 'mount -t tmpfs -o size=64k tmpfs full && "
                                          "printf keep > full/b.wav && $0 -f -o full/b.wav big.brr; echo $?; "
                                          "cat full/b.wav; echo; ls -A full' $BRR");
    EXPECT_EQ(run.out, "Number of BRR blocks to decode : 7281.\n1\nkeep\nb.wav\n");
    EXPECT_EQ(run.err, "brrdecode: full/b.wav: No space left on device\n");
}

}  // namespace
