// The brrdecode command-line tool, run as a separate process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <vector>

#include "test_support.h"

using testsupport::Bytes;
using testsupport::ScratchDir;

namespace {

const Bytes kOneBlock = {0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0};

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

// Runs brrdecode with `args` in `dir`. BRRDECODE_COMMAND is the tool's path,
// quoted for the shell (behind an emulator in cross builds).
ToolRun RunTool(const ScratchDir& dir, const std::vector<std::string>& args)
{
    std::string command = "cd " + Quote(dir.dir) + " && " + BRRDECODE_COMMAND;
    for (const std::string& arg : args) {
        command += " " + Quote(arg);
    }
    command += " >" + Quote(dir.Path(".out")) + " 2>" + Quote(dir.Path(".err")) + " </dev/null";
    ToolRun run;
    const int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes out = testsupport::ReadFile(dir.Path(".out"));
    const Bytes err = testsupport::ReadFile(dir.Path(".err"));
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
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
    EXPECT_EQ(version.out, "brrdecode 1.0.0.1\n");
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
        expectedOut += "Number of BRR blocks to decode : 1.\nDone !\n";
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
              "No such file : missing.brr\n"
              "Error : Size of BRR file odd.brr isn't a multiple of 9 bytes.\n");
    EXPECT_EQ(run.out,
              "Number of BRR blocks to decode : 1.\nDone !\n"
              "Number of BRR blocks to decode : 1.\nDone !\n");
    EXPECT_TRUE(testsupport::FileExists(scratch.Path("good.wav")));
    EXPECT_TRUE(testsupport::FileExists(scratch.Path("last.wav")));
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("odd.wav")));
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("missing.wav")));
    // An output that cannot be opened fails that file only, too.
    const ToolRun unwritable = RunTool(scratch, {"-o", "no/dir/x.wav", "good.brr"});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_EQ(unwritable.err, "Can't open file no/dir/x.wav for writing.\n");
}

TEST(Tool, ConsoleLinesKeepTheirOrderInOnePipe)
{
    ScratchDir scratch;
    testsupport::WriteFile(scratch.Path("good.brr"), kOneBlock);
    testsupport::WriteFile(scratch.Path("empty.brr"), {});
    const std::string command = "cd " + Quote(scratch.dir) + " && " + BRRDECODE_COMMAND +
                                " good.brr empty.brr good.brr 2>&1 | cat > both.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes both = testsupport::ReadFile(scratch.Path("both.txt"));
    EXPECT_EQ(std::string(both.begin(), both.end()),
              "Number of BRR blocks to decode : 1.\nDone !\n"
              "Number of BRR blocks to decode : 0.\nError : Loop position is out of range\n"
              "Number of BRR blocks to decode : 1.\nDone !\n");
}

}  // namespace

namespace {

TEST(Tool, LoopsAndRate)
{
    ScratchDir scratch;
    const Bytes carried = {0xC4, 0x77, 0x77, 0, 0, 0, 0, 0, 0, 0xC0, 0x10, 0, 0, 0, 0, 0, 0, 0};
    testsupport::WriteFile(scratch.Path("in.brr"), carried);
    const ToolRun run = RunTool(scratch, {"--loops", "4", "--rate", "32000", "-o", "out.wav", "in.brr"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              "Number of BRR blocks to decode : 2.\n"
              " (probable note : B 5 +21 cents)\n"
              "Looping is stable.\n"
              "Done !\n");
    EXPECT_EQ(run.err, "");
    testsupport::ReferenceDecoder reference;
    Bytes four;
    for (int i = 0; i < 4; ++i) {
        four.insert(four.end(), carried.begin(), carried.end());
    }
    EXPECT_EQ(testsupport::ReadFile(scratch.Path("out.wav")),
              testsupport::ExpectedWav(32000, reference.DecodeBlocks(four)));
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
    };
    for (const auto& args : cases) {
        const ToolRun run = RunTool(scratch, args);
        EXPECT_EQ(run.exitCode, 2) << args[0] << " " << args[1];
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("--help"), std::string::npos);
    }
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("in.wav")));
    EXPECT_EQ(RunTool(scratch, {"--loops=3200", "--rate=384000", "in.brr"}).exitCode, 0);
    EXPECT_EQ(RunTool(scratch, {"--loops", "1", "--rate", "1", "in.brr"}).exitCode, 0);
}

}  // namespace
