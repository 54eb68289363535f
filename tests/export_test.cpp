// The exported BRRDecode: statuses, console lines, files written or not, and
// the paths that end the process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "VornishAudioBRRDecoder.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::Capture;
using testsupport::ScratchDir;

namespace {

const Bytes kOneBlock = {0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0};

using testsupport::Wide;

std::int32_t Convert(const std::string& in, const std::string& out)
{
    return BRRDecode(Wide(in).c_str(), Wide(out).c_str());
}

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

TEST(BRRDecode, StatusLinesAndOutputFollowTheInput)
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
    // The input was read (block count printed) before the output failed.
    const auto bothOnStderr = [&] {
        ::dup2(2, 1);
        BRRDecode(Wide(in).c_str(), Wide(out).c_str());
    };
    EXPECT_EXIT(bothOnStderr(), ::testing::ExitedWithCode(1),
                "^" + BlockCountLine(1) + "Can't open file " + out + " for writing.\n$");
}

// One block more than the WAV sizes can hold, and a count past 32 bits (printed
// whole): refused before any output exists.
TEST(BRRDecode, TooLargeForWavHeaderIsRefused)
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

TEST(BRRDecode, FailedWriteToDeviceIsReportedAndDeviceKept)
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

// A regular output that cannot be written whole (here: a file size limit)
// never appears; through a link, the link and its target stay as they were.
TEST(BRRDecodeDeathTest, FailedWriteLeavesNoOutput)
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

TEST(BRRDecode, ExistingOutputIsReplaced)
{
    ScratchDir scratch;
    const std::string in = scratch.Path("in.brr");
    const std::string out = scratch.Path("out.wav");
    testsupport::WriteFile(in, kOneBlock);
    testsupport::WriteFile(out, Bytes(1000, 0xAA));
    EXPECT_EQ(Capture([&] { return Convert(in, out); }).status, BRR_STATUS_DONE);
    EXPECT_EQ(testsupport::ReadFile(out).size(), 76u);
}

// Mounts a small tmpfs (a full disk) on `dir` in a mount namespace of the
// process's own: meant for the child of a death test.
bool MountFullDisk(const std::string& dir)
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const std::string uid = "0 " + std::to_string(::getuid()) + " 1";
        const std::string gid = "0 " + std::to_string(::getgid()) + " 1";
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return false;
        }
        testsupport::WriteFile("/proc/self/setgroups", Bytes{'d', 'e', 'n', 'y'});
        testsupport::WriteFile("/proc/self/uid_map", Bytes(uid.begin(), uid.end()));
        testsupport::WriteFile("/proc/self/gid_map", Bytes(gid.begin(), gid.end()));
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0;
}

// A full disk never costs the old output, nor the input when both are one
// file: the WAV takes their place only when it is complete.
TEST(BRRDecodeDeathTest, FullDiskKeepsTheOldFile)
{
    if (std::system("unshare -rm true 2>/dev/null") != 0) {
        GTEST_SKIP() << "no mount namespace to be had";
    }
    ScratchDir scratch;
    const std::string big = scratch.Path("big.brr");
    const std::string full = scratch.Path("full");
    testsupport::WriteFile(big, Bytes(9 * 5000, 0x11));
    ::mkdir(full.c_str(), 0700);
    const auto onFullDisk = [&] {
        std::freopen("/dev/null", "w", stdout);
        if (!MountFullDisk(full)) {
            std::exit(2);
        }
        const Bytes keep = {'k', 'e', 'e', 'p'};
        const std::string old = full + "/old.wav";
        const std::string both = full + "/both.brr";
        testsupport::WriteFile(old, keep);
        testsupport::WriteFile(both, Bytes(9 * 5000, 0x22));
        const bool kept = Convert(big, old) == BRR_STATUS_WRITE_ERROR && testsupport::ReadFile(old) == keep;
        const bool input = Convert(both, both) == BRR_STATUS_WRITE_ERROR &&
                           testsupport::ReadFile(both) == Bytes(9 * 5000, 0x22);
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(full)) {
            files += entry.is_regular_file() ? 1 : 0;
        }
        std::exit(kept && input && files == 2 ? 0 : 1);
    };
    EXPECT_EXIT(onFullDisk(), ::testing::ExitedWithCode(0),
                "^Error : Can't write file " + full + "/old.wav.\nError : Can't write file " + full +
                    "/both.brr.\n$");
}

}  // namespace
