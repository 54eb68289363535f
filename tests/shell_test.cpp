// The tools' shared shell code, where the tools themselves cannot reach an
// edge quickly: standard input spooled up to exactly its limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "shell.h"

namespace {

TEST(StandardInput, SpoolsUpToItsLimitExactly)
{
    shell::programName = "shell_test";
    constexpr std::size_t kLimit = 100000;
    for (const std::size_t extra : {0u, 1u}) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const int saved = ::dup(STDIN_FILENO);
        ::dup2(ends[0], STDIN_FILENO);
        ::close(ends[0]);
        std::thread writer([&] {
            const std::vector<char> data(kLimit + extra, 'x');
            for (std::size_t done = 0; done < data.size();) {
                const ssize_t n = ::write(ends[1], data.data() + done, data.size() - done);
                done += n > 0 ? static_cast<std::size_t>(n) : data.size();
            }
            ::close(ends[1]);
        });
        int spool = -1;
        const int fd = shell::OpenStandardInput(&spool, "test", kLimit, "Error : %s is too large.\n");
        writer.join();
        ::dup2(saved, STDIN_FILENO);
        ::close(saved);
        struct stat st;
        EXPECT_EQ(fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size == static_cast<off_t>(kLimit), extra == 0) << extra;
        if (spool >= 0) {
            ::close(spool);
        }
    }
}

}  // namespace
