// The conversion entry and the exported function: statuses, console lines,
// files written or not, and the paths that end the process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "VornishAudioBRRDecoder.h"
#include "convert/convert.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::Capture;
using testsupport::ScratchDir;

namespace {

const Bytes kOneBlock = {0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0};

std::int32_t Convert(const std::string& in, const std::string& out)
{
    return vornish::BRRConvertFile(in.c_str(), out.c_str());
}

using testsupport::Wide;

std::string BlockCountLine(std::uint64_t blocks)
{
    return "Number of BRR blocks to decode : " + std::to_string(blocks) + ".\n";
}

// Makes a file of `size` bytes without writing them (a sparse file).
void MakeSparseFile(const std::string& path, std::uint64_t size)
{
    testsupport::WriteFile(path, {});
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

struct InputCase {
    const char* name;
    Bytes input;
    std::int32_t status;
    std::string out;  // "%s" stands for the input path
    std::string err;
    bool written;
};

std::string WithPath(std::string text, const std::string& path)
{
    const std::size_t at = text.find("%s");
    return at == std::string::npos ? text : text.replace(at, 2, path);
}

TEST(BRRConvertFile, StatusLinesAndOutputFollowTheInput)
{
    Bytes middleEnd;  // the end flag (low header bits) set on a middle block
    for (const int header : {0xC0, 0xC3, 0xC1, 0xC2}) {
        middleEnd.push_back(static_cast<std::uint8_t>(header));
        middleEnd.insert(middleEnd.end(), 8, 0x12);
    }
    const InputCase cases[] = {
        {"empty", {}, BRR_STATUS_NO_BLOCKS, BlockCountLine(0),
         "Error : Loop position is out of range\n", false},
        {"ten_bytes", Bytes(10, 0), BRR_STATUS_BAD_SIZE, "",
         "Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", false},
        {"eight_bytes", Bytes(8, 0), BRR_STATUS_BAD_SIZE, "",
         "Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", false},
        {"loop_header_form", Bytes(2 + 9, 0), BRR_STATUS_BAD_SIZE, "",
         "Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", false},
        {"one_block", kOneBlock, BRR_STATUS_DONE, BlockCountLine(1) + "Done !\n", "", true},
        {"end_flag_in_middle", middleEnd, BRR_STATUS_DONE, BlockCountLine(4) + "Done !\n", "", true},
    };
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch;
        const std::string in = scratch.Path("in.brr");
        const std::string out = scratch.Path("out.wav");
        testsupport::WriteFile(in, c.input);
        const auto console = Capture([&] { return Convert(in, out); });
        EXPECT_EQ(console.status, c.status);
        EXPECT_EQ(console.out, c.out);
        EXPECT_EQ(console.err, WithPath(c.err, in));
        ASSERT_EQ(testsupport::FileExists(out), c.written);
        if (c.written) {
            testsupport::ReferenceDecoder reference;
            EXPECT_EQ(testsupport::ReadFile(out),
                      testsupport::ExpectedWav(8000, reference.DecodeBlocks(c.input)));
        }
    }
}

TEST(BRRDecode, OneBlockWritesTheKnownWav)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    const std::string out = scratch.Path("out.wav");
    testsupport::WriteFile(in, kOneBlock);
    const auto console = Capture([&] { return BRRDecode(Wide(in).c_str(), Wide(out).c_str()); });
    EXPECT_EQ(console.status, 999);
    EXPECT_EQ(console.out, "Number of BRR blocks to decode : 1.\nDone !\n");
    EXPECT_EQ(console.err, "");
    testsupport::Samples expected(16, 0);
    expected[0] = 28672;
    expected[1] = -4096;
    EXPECT_EQ(testsupport::ReadFile(out), testsupport::ExpectedWav(8000, expected));
}

TEST(BRRDecode, SamePathForInputAndOutputWorks)
{
    ScratchDir scratch;
    const std::string path = scratch.Path("both.brr");
    const Bytes blocks = testsupport::RandomBytes(9 * 3000, 3);
    testsupport::WriteFile(path, blocks);
    const auto console = Capture([&] { return BRRDecode(Wide(path).c_str(), Wide(path).c_str()); });
    EXPECT_EQ(console.status, BRR_STATUS_DONE);
    testsupport::ReferenceDecoder reference;
    EXPECT_EQ(testsupport::ReadFile(path), testsupport::ExpectedWav(8000, reference.DecodeBlocks(blocks)));
}

TEST(BRRDecode, NullPathsAreRefused)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    testsupport::WriteFile(in, kOneBlock);
    const std::wstring wideIn = Wide(in);
    const std::wstring wideOut = Wide(scratch.Path("out.wav"));
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {nullptr, wideOut.c_str()}, {wideIn.c_str(), nullptr}, {nullptr, nullptr}};
    for (const auto& c : cases) {
        const auto console = Capture([&] { return BRRDecode(c.first, c.second); });
        EXPECT_EQ(console.status, BRR_STATUS_MISSING_PATH);
        EXPECT_EQ(console.out, "");
        EXPECT_EQ(console.err, "Error : Missing file path.\n");
    }
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("out.wav")));
}

TEST(BRRDecode, ErrorLinesFollowBufferedProgressLines)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("empty.brr");
    testsupport::WriteFile(in, {});
    const std::string console = testsupport::CaptureInterleaved(
        [&] { BRRDecode(Wide(in).c_str(), Wide(scratch.Path("out.wav")).c_str()); });
    EXPECT_EQ(console, BlockCountLine(0) + "Error : Loop position is out of range\n");
}

TEST(BRRDecode, NonAsciiAndLongPathsWork)
{
    ScratchDir scratch;
    std::string longDir = scratch.dir;
    for (int i = 0; i < 6; ++i) {
        longDir += "/" + std::string(60, static_cast<char>('a' + i));
    }
    std::filesystem::create_directories(longDir);
    const std::string paths[] = {scratch.Path("t\xC3\xB6n \xE2\x99\xAA.brr"), longDir + "/in.brr"};
    for (const std::string& in : paths) {
        const std::string out = in + ".wav";
        testsupport::WriteFile(in, kOneBlock);
        const auto console = Capture([&] { return BRRDecode(Wide(in).c_str(), Wide(out).c_str()); });
        EXPECT_EQ(console.status, 999) << in;
        EXPECT_EQ(testsupport::ReadFile(out).size(), 76u) << in;
    }
    // A path naming a missing file shows its UTF-8 form in the message.
    const std::string missing = scratch.Path("\xC3\xA9t\xC3\xA9.brr");
    EXPECT_EXIT(BRRDecode(Wide(missing).c_str(), Wide(missing + ".wav").c_str()),
                ::testing::ExitedWithCode(1), "No such file : " + missing + "\n");
}

TEST(BRRDecode, EachConversionStartsFromClearedHistory)
{
    ScratchDir scratch;
    // Ends on a loud value, so a carried-over history would change the next file.
    const Bytes loud = {0xC0, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77};
    const Bytes predicted = {0x0C, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
    testsupport::WriteFile(scratch.Path("loud.brr"), loud);
    testsupport::WriteFile(scratch.Path("predicted.brr"), predicted);
    Capture([&] { return Convert(scratch.Path("predicted.brr"), scratch.Path("first.wav")); });
    Capture([&] { return Convert(scratch.Path("loud.brr"), scratch.Path("loud.wav")); });
    Capture([&] { return Convert(scratch.Path("predicted.brr"), scratch.Path("second.wav")); });
    testsupport::ReferenceDecoder fresh;
    EXPECT_EQ(testsupport::ReadFile(scratch.Path("second.wav")),
              testsupport::ExpectedWav(8000, fresh.DecodeBlocks(predicted)));
    EXPECT_EQ(testsupport::ReadFile(scratch.Path("second.wav")),
              testsupport::ReadFile(scratch.Path("first.wav")));
}

// Inputs that cannot be opened: the entry reports and returns, the exported
// function ends the process with status 1.
TEST(BRRConvertFile, UnopenableInputsAreReported)
{
    ScratchDir scratch;
    const std::string fifo = scratch.Path("fifo.brr");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string inputs[] = {scratch.Path("missing.brr"), scratch.dir, fifo};
    for (const std::string& in : inputs) {
        const auto console = Capture([&] { return Convert(in, scratch.Path("out.wav")); });
        EXPECT_EQ(console.status, vornish::kStatusInputOpenFailed) << in;
        EXPECT_EQ(console.out, "");
        EXPECT_EQ(console.err, "No such file : " + in + "\n");
        EXPECT_FALSE(testsupport::FileExists(scratch.Path("out.wav")));
    }
}

TEST(BRRDecodeDeathTest, UnopenableInputEndsTheProcess)
{
    ScratchDir scratch;
    const std::string fifo = scratch.Path("fifo.brr");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = scratch.Path("out.wav");
    for (const std::string& in : {scratch.Path("missing.brr"), scratch.dir, fifo}) {
        EXPECT_EXIT(BRRDecode(Wide(in).c_str(), Wide(out).c_str()), ::testing::ExitedWithCode(1),
                    "^No such file : " + in + "\n$");
    }
    EXPECT_FALSE(testsupport::FileExists(out));
}

TEST(BRRDecodeDeathTest, UnopenableOutputEndsTheProcessAfterReading)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    testsupport::WriteFile(in, kOneBlock);
    const std::string out = scratch.Path("no/such/dir/out.wav");
    EXPECT_EXIT(BRRDecode(Wide(in).c_str(), Wide(out).c_str()), ::testing::ExitedWithCode(1),
                "^Can't open file " + out + " for writing.\n$");
    // The entry alone: the input was read (block count printed) before the
    // output failed.
    const auto console = Capture([&] { return Convert(in, out); });
    EXPECT_EQ(console.status, vornish::kStatusOutputOpenFailed);
    EXPECT_EQ(console.out, BlockCountLine(1));
    EXPECT_EQ(console.err, "Can't open file " + out + " for writing.\n");
}

// One block more than the WAV sizes can hold, and a count past 32 bits (printed
// whole): refused before any output exists.
TEST(BRRConvertFile, TooLargeForWavHeaderIsRefused)
{
    for (const std::uint64_t blocks : {134217727ull, 0x100000001ull}) {
        ScratchDir scratch;
        const std::string in = scratch.Path("huge.brr");
        MakeSparseFile(in, 9ull * blocks);
        const auto console = Capture([&] { return Convert(in, scratch.Path("out.wav")); });
        EXPECT_EQ(console.status, BRR_STATUS_TOO_LARGE);
        EXPECT_EQ(console.out, BlockCountLine(blocks));
        EXPECT_EQ(console.err, "Error : BRR file " + in + " is too large to convert.\n");
        EXPECT_FALSE(testsupport::FileExists(scratch.Path("out.wav")));
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VORNISH_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VORNISH_UNDER_SANITIZER 1
#endif
#endif

// Memory does not grow with the output: 3200 passes over a 64 KiB sample (a
// 745 MB WAV) convert within an address-space limit far below that.
TEST(BRRConvertFileDeathTest, MemoryStaysBoundedForLongOutputs)
{
#if defined(VORNISH_UNDER_SANITIZER)
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#elif defined(VORNISH_TESTS_EMULATED)
    GTEST_SKIP() << "a user-mode emulator does not apply the address-space limit";
#else
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    testsupport::WriteFile(in, testsupport::RandomBytes(9 * 7282, 5));
    const auto convertWithLittleMemory = [&] {
        const rlimit limit{256ull << 20, 256ull << 20};
        setrlimit(RLIMIT_AS, &limit);
        vornish::ConvertOptions options;
        options.loopCount = 3200;
        options.progress = nullptr;
        std::exit(vornish::BRRConvertFile(in.c_str(), "/dev/null", options));
    };
    EXPECT_EXIT(convertWithLittleMemory(), ::testing::ExitedWithCode(BRR_STATUS_DONE % 256), "^$");
#endif
}

// A read that fails once the output is open (here: the input descriptor is
// open for writing only) removes the output.
TEST(BRRConvert, FailedReadRemovesTheOutput)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    const std::string out = scratch.Path("out.wav");
    testsupport::WriteFile(in, Bytes(9 * 5, 0x11));
    vornish::FilePath input;
    input.text = in.c_str();
    input.fd = ::open(in.c_str(), O_WRONLY);
    vornish::FilePath output;
    output.text = out.c_str();
    const auto console = Capture([&] { return vornish::BRRConvert(input, output, {}); });
    ::close(input.fd);
    EXPECT_EQ(console.status, BRR_STATUS_READ_ERROR);
    EXPECT_EQ(console.out, BlockCountLine(5));
    EXPECT_EQ(console.err, "Error : Can't read BRR file " + in + ".\n");
    EXPECT_FALSE(testsupport::FileExists(out));
}

TEST(BRRConvertFile, FailedWriteToDeviceIsReportedAndDeviceKept)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    testsupport::WriteFile(in, Bytes(9 * 1000, 0x22));
    const auto console = Capture([&] { return Convert(in, "/dev/full"); });
    EXPECT_EQ(console.status, BRR_STATUS_WRITE_ERROR);
    EXPECT_EQ(console.out, BlockCountLine(1000));
    EXPECT_EQ(console.err, "Error : Can't write file /dev/full.\n");
    struct stat st;
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A regular output that cannot be written whole (here: a file size limit) is
// removed; through a link, neither the link nor its target is removed.
TEST(BRRConvertFileDeathTest, PartialRegularOutputIsRemoved)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    testsupport::WriteFile(in, Bytes(9 * 1000, 0x22));
    const std::string out = scratch.Path("out.wav");
    const std::string target = scratch.Path("target.wav");
    const std::string link = scratch.Path("link.wav");
    testsupport::WriteFile(target, {});
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    for (const std::string& path : {out, link}) {
        const auto convertWithSizeLimit = [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::exit(Convert(in, path));
        };
        EXPECT_EXIT(convertWithSizeLimit(), ::testing::ExitedWithCode(BRR_STATUS_WRITE_ERROR),
                    "^Error : Can't write file " + path + ".\n$");
    }
    EXPECT_FALSE(testsupport::FileExists(out));
    EXPECT_TRUE(testsupport::FileExists(link));
    EXPECT_TRUE(testsupport::FileExists(target));
}

TEST(BRRConvertFile, ExistingOutputIsReplaced)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    const std::string out = scratch.Path("out.wav");
    testsupport::WriteFile(in, kOneBlock);
    testsupport::WriteFile(out, Bytes(1000, 0xAA));
    EXPECT_EQ(Capture([&] { return Convert(in, out); }).status, BRR_STATUS_DONE);
    EXPECT_EQ(testsupport::ReadFile(out).size(), 76u);
}

}  // namespace

namespace {

std::int32_t ConvertLoops(const std::string& in, const std::string& out, std::uint32_t loops,
                          std::uint32_t rate)
{
    vornish::ConvertOptions options;
    options.loopCount = loops;
    options.sampleRate = rate;
    return vornish::BRRConvertFile(in.c_str(), out.c_str(), options);
}

Bytes Repeat(const Bytes& bytes, int times)
{
    Bytes out;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

TEST(BRRConvertFileLoops, PassesCarryTheHistoryAndReport)
{
    // Filter 1 from a zero history, ending away from zero: the second pass
    // starts from a different history, so its samples differ from the first.
    const Bytes carried = {0xC4, 0x77, 0x77, 0, 0, 0, 0, 0, 0};
    // Filter 0 never looks at the history: every pass is the same.
    const Bytes plain = {0xC0, 0x7F, 0x12, 0, 0, 0, 0, 0, 0x34, 0xB0, 0x11, 0, 0, 0, 0, 0, 0, 0x80};
    // Both passes start 14336, then -29536 against -29542, then 0: the record
    // must hold the first two samples, not any others.
    const Bytes secondDiffers = {0xBC, 0x75, 0xDE, 0xCB, 0x3B, 0xC9, 0x91, 0xED, 0x41,
                                 0x11, 0x25, 0x28, 0x9C, 0xC1, 0xDA, 0xEB, 0xA8, 0x63};
    struct Case {
        const char* name;
        Bytes input;
        std::uint32_t loops, rate;
        std::string reports;
    };
    const Case cases[] = {
        {"carried_two", carried, 2, 8000,
         " (probable note : B 4 +21 cents)\nLooping is unstable, try a larger number of loops to "
         "figure the length until the sample repeats.\n"},
        {"plain_three", plain, 3, 32000, " (probable note : B 5 +21 cents)\nLooping is stable.\n"},
        {"carried_once", carried, 1, 8000, ""},
        {"plain_many_blocks", Repeat(plain, 30), 2, 8000, "\nLooping is stable.\n"},
        {"record_takes_first_two", secondDiffers, 2, 8000,
         " (probable note : B 3 +21 cents)\nLooping is unstable, try a larger number of loops to "
         "figure the length until the sample repeats.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch;
        const std::string in = scratch.Path("in.brr");
        const std::string out = scratch.Path("out.wav");
        testsupport::WriteFile(in, c.input);
        const auto console = Capture([&] { return ConvertLoops(in, out, c.loops, c.rate); });
        EXPECT_EQ(console.status, BRR_STATUS_DONE);
        EXPECT_EQ(console.out, BlockCountLine(c.input.size() / 9) + c.reports + "Done !\n");
        EXPECT_EQ(console.err, "");
        testsupport::ReferenceDecoder reference;
        const testsupport::Samples expected =
            reference.DecodeBlocks(Repeat(c.input, static_cast<int>(c.loops)));
        EXPECT_EQ(testsupport::ReadFile(out), testsupport::ExpectedWav(c.rate, expected));
    }
    // Guards the first case: its passes really differ.
    testsupport::ReferenceDecoder reference;
    const testsupport::Samples twice = reference.DecodeBlocks(Repeat(carried, 2));
    EXPECT_NE(testsupport::Samples(twice.begin(), twice.begin() + 16),
              testsupport::Samples(twice.begin() + 16, twice.end()));
}

// The working buffer's chunk boundaries fall everywhere (a chunk of 1, 3 or 7
// blocks against passes of 10 and 6 blocks), with the history carried across
// each of them and from pass to pass.
TEST(BRRConvertFileLoops, ChunkBoundariesCarryTheHistory)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    const std::string out = scratch.Path("out.wav");
    const Bytes blocks = testsupport::RandomBytes(9 * 10, 9);
    testsupport::WriteFile(in, blocks);
    testsupport::ReferenceDecoder reference;
    testsupport::Samples expected = reference.DecodeBlocks(blocks);
    for (int pass = 1; pass < 3; ++pass) {
        const testsupport::Samples again =
            reference.DecodeBlocks(Bytes(blocks.begin() + 9 * 4, blocks.end()));
        expected.insert(expected.end(), again.begin(), again.end());
    }
    for (const std::size_t chunk : {1u, 3u, 7u, 0u}) {
        vornish::ConvertOptions options;
        options.loopCount = 3;
        options.loopStart = 4;
        options.chunkBlocks = chunk;
        options.progress = nullptr;
        EXPECT_EQ(vornish::BRRConvertFile(in.c_str(), out.c_str(), options), BRR_STATUS_DONE);
        EXPECT_EQ(testsupport::ReadFile(out), testsupport::ExpectedWav(8000, expected))
            << "chunk " << chunk;
    }
}

TEST(BRRConvertFileLoops, LoopCountOutsideTheRecordIsRefused)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    const std::string out = scratch.Path("out.wav");
    testsupport::WriteFile(in, kOneBlock);
    for (const std::uint32_t loops : {0u, 3201u, 0xFFFFFFFFu}) {
        const auto console = Capture([&] { return ConvertLoops(in, out, loops, 8000); });
        EXPECT_EQ(console.status, vornish::kStatusBadLoopCount);
        EXPECT_EQ(console.out, "");
        EXPECT_EQ(console.err,
                  "Error : Loop count " + std::to_string(loops) + " is out of range (1 to 3200).\n");
        EXPECT_FALSE(testsupport::FileExists(out));
    }
    EXPECT_EQ(Capture([&] { return ConvertLoops(in, out, 3200, 8000); }).status, BRR_STATUS_DONE);
    EXPECT_EQ(testsupport::ReadFile(out).size(), 44u + 3200u * 32u);
}

TEST(BRRConvertFileLoops, TooLargeCountsEveryPass)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("half.brr");
    MakeSparseFile(in, 9ull * 67108864u);  // twice this is one block too many
    const auto console = Capture([&] { return ConvertLoops(in, scratch.Path("out.wav"), 2, 8000); });
    EXPECT_EQ(console.status, BRR_STATUS_TOO_LARGE);
    EXPECT_EQ(console.out, BlockCountLine(67108864));
    EXPECT_EQ(console.err, "Error : BRR file " + in + " is too large to convert.\n");
    EXPECT_FALSE(testsupport::FileExists(scratch.Path("out.wav")));
}

}  // namespace
