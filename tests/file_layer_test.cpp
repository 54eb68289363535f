// The file layer: whole transfers through short, interrupted and ending
// calls, and outputs that replace their target only when committed. Built
// twice: with the platform's unnamed files, and with the hidden temporary
// names used where there are none (VORNISH_NO_UNNAMED_FILES).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "VornishAudioBRRFile.h"
#include "platform/platform.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::ScratchDir;

namespace {

// A fake call for Transfer: each entry is what one call returns (a count, or
// -1 with its errno).
struct Script {
    std::vector<std::pair<long, int>> calls;
    std::size_t next = 0;
    std::vector<std::size_t> asked;
    long operator()(const char*, std::size_t size)
    {
        asked.push_back(size);
        if (next == calls.size()) {
            ADD_FAILURE() << "called again after the script ended";
            return 0;
        }
        errno = calls[next].second;
        return calls[next++].first;
    }
};

TEST(Transfer, ShortInterruptedAndEndingCalls)
{
    struct Case {
        const char* name;
        std::vector<std::pair<long, int>> calls;
        int result;
        std::vector<std::size_t> asked;
    };
    const Case cases[] = {
        {"whole", {{10, 0}}, 0, {10}},
        {"short_then_rest", {{3, 0}, {7, 0}}, 0, {10, 7}},
        {"interrupted_then_rest", {{-1, EINTR}, {4, 0}, {-1, EINTR}, {6, 0}}, 0, {10, 10, 6, 6}},
        {"end_of_file_midway", {{4, 0}, {0, 0}}, EIO, {10, 6}},
        {"failure", {{2, 0}, {-1, ENOSPC}}, ENOSPC, {10, 8}},
    };
    const char buffer[10] = {};
    for (const Case& c : cases) {
        Script script;
        script.calls = c.calls;
        EXPECT_EQ(vornish::Transfer(buffer, sizeof buffer, std::ref(script)), c.result) << c.name;
        EXPECT_EQ(script.asked, c.asked) << c.name;
    }
}

std::set<std::string> Listing(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

int WriteAll(BRRFile* file, const Bytes& bytes) { return BRRFileWrite(file, bytes.data(), bytes.size()); }

// The target is untouched until the commit, keeps its permission bits and
// stays a link; nothing but the target is left in the folder.
TEST(BRRFileOutput, ReplacesOnlyWhenCommitted)
{
    ScratchDir scratch;
    const std::string target = scratch.Path("t.wav");
    const std::string link = scratch.Path("l.wav");
    const Bytes old = {'o', 'l', 'd'};
    const Bytes fresh = {'n', 'e', 'w', '!'};
    testsupport::WriteFile(target, old);
    ::chmod(target.c_str(), 0640);
    ASSERT_EQ(::symlink("t.wav", link.c_str()), 0);
    for (const bool commit : {false, true}) {
        BRRFile file;
        ASSERT_EQ(BRRFileOpenOutput(&file, link.c_str(), nullptr, 0), 0);
        EXPECT_EQ(file.replacing, 1);
#if defined(__linux__) && !defined(VORNISH_NO_UNNAMED_FILES)
        EXPECT_EQ(file.temporary, nullptr);  // unnamed until it is committed
#endif
        ASSERT_EQ(WriteAll(&file, fresh), 0);
        EXPECT_EQ(testsupport::ReadFile(target), old);
        EXPECT_EQ(commit ? BRRFileCommit(&file) : BRRFileClose(&file), 0);
        EXPECT_EQ(testsupport::ReadFile(target), commit ? fresh : old);
        EXPECT_EQ(Listing(scratch.dir), (std::set<std::string>{"t.wav", "l.wav"}));
    }
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Without replacing, a file that appears before the commit wins, and the
// replacement is discarded.
TEST(BRRFileOutput, ExclusiveCommitNeverReplaces)
{
    ScratchDir scratch;
    const std::string path = scratch.Path("x.wav");
    BRRFile file;
    ASSERT_EQ(BRRFileOpenOutput(&file, path.c_str(), nullptr, 1), 0);
    ASSERT_EQ(WriteAll(&file, {1, 2, 3}), 0);
    testsupport::WriteFile(path, {9});
    EXPECT_EQ(BRRFileCommit(&file), BRR_FILE_EXISTS);
    EXPECT_EQ(testsupport::ReadFile(path), Bytes{9});
    EXPECT_EQ(Listing(scratch.dir), std::set<std::string>{"x.wav"});
    EXPECT_EQ(BRRFileOpenOutput(&file, path.c_str(), nullptr, 1), BRR_FILE_EXISTS);
}

// A commit that cannot put the file in place (a folder took the name) says
// why and leaves nothing behind; a dangling link is a name in use.
TEST(BRRFileOutput, FailedCommitLeavesNothingAndDanglingLinksAreTaken)
{
    ScratchDir scratch;
    const std::string path = scratch.Path("d.wav");
    BRRFile file;
    ASSERT_EQ(BRRFileOpenOutput(&file, path.c_str(), nullptr, 0), 0);
    ASSERT_EQ(WriteAll(&file, {1}), 0);
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(BRRFileCommit(&file), EISDIR);
    EXPECT_EQ(Listing(scratch.dir), std::set<std::string>{"d.wav"});

    ASSERT_EQ(::symlink("missing.wav", scratch.Path("l.wav").c_str()), 0);
    EXPECT_EQ(BRRFileOpenOutput(&file, scratch.Path("l.wav").c_str(), nullptr, 1), BRR_FILE_EXISTS);
    EXPECT_EQ(Listing(scratch.dir), (std::set<std::string>{"d.wav", "l.wav"}));
}

#if defined(VORNISH_NO_UNNAMED_FILES)
// A temporary name that someone else's file took over is not removed.
TEST(BRRFileOutput, AbandonRemovesOnlyItsOwnTemporary)
{
    ScratchDir scratch;
    BRRFile file;
    ASSERT_EQ(BRRFileOpenOutput(&file, scratch.Path("y.wav").c_str(), nullptr, 0), 0);
    ASSERT_NE(file.temporary, nullptr);
    const std::string temporary = file.temporary;
    ASSERT_EQ(std::rename(temporary.c_str(), scratch.Path("moved").c_str()), 0);
    testsupport::WriteFile(temporary, {7});
    BRRFileAbandon(&file);
    EXPECT_EQ(testsupport::ReadFile(temporary), Bytes{7});
    ASSERT_EQ(std::rename(scratch.Path("moved").c_str(), temporary.c_str()), 0);
    BRRFileAbandon(&file);
    EXPECT_FALSE(testsupport::FileExists(temporary));
    EXPECT_EQ(BRRFileClose(&file), 0);
}
#endif

}  // namespace
