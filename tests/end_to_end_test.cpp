// Random blocks converted end to end through the exported function, and
// conversions on several threads at once.
#include <gtest/gtest.h>

#include <thread>

#include "VornishAudioBRRDecoder.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::Samples;
using testsupport::ScratchDir;

namespace {

Bytes ConvertThroughExport(const ScratchDir& scratch, const std::string& name, const Bytes& blocks)
{
    const std::string in = scratch.Path(name + ".brr");
    const std::string out = scratch.Path(name + ".wav");
    testsupport::WriteFile(in, blocks);
    const auto console = testsupport::Capture([&] {
        return BRRDecode(testsupport::Wide(in).c_str(), testsupport::Wide(out).c_str());
    });
    EXPECT_EQ(console.status, BRR_STATUS_DONE) << console.err;
    return testsupport::ReadFile(out);
}

TEST(EndToEnd, RandomBlocksMatchReferenceDecoder)
{
    ScratchDir scratch;
    const Bytes blocks = testsupport::RandomBytes(9 * 20000, 42);
    testsupport::ReferenceDecoder reference;
    EXPECT_EQ(ConvertThroughExport(scratch, "noise", blocks),
              testsupport::ExpectedWav(8000, reference.DecodeBlocks(blocks)));
}

TEST(EndToEnd, EightThreadsConvertLikeOne)
{
    constexpr int kThreads = 8;
    ScratchDir scratch;
    std::vector<std::string> inputs;
    std::vector<Bytes> expected;
    for (int i = 0; i < kThreads; ++i) {
        const std::string name = "in" + std::to_string(i);
        // More than one working-buffer chunk (16,384 blocks), so that every
        // conversion runs its writer thread too.
        const Bytes blocks = testsupport::RandomBytes(9 * (17000 + 1000 * static_cast<std::size_t>(i)),
                                                      static_cast<std::uint32_t>(100 + i));
        expected.push_back(ConvertThroughExport(scratch, name, blocks));
        inputs.push_back(scratch.Path(name + ".brr"));
    }
    for (int round = 0; round < 3; ++round) {
        std::vector<std::int32_t> statuses(kThreads, 0);
        testsupport::Capture([&] {
            std::vector<std::thread> threads;
            for (int i = 0; i < kThreads; ++i) {
                threads.emplace_back([&, i] {
                    const std::string out = scratch.Path("out" + std::to_string(i) + ".wav");
                    statuses[static_cast<std::size_t>(i)] = BRRDecode(
                        testsupport::Wide(inputs[static_cast<std::size_t>(i)]).c_str(),
                        testsupport::Wide(out).c_str());
                });
            }
            for (std::thread& t : threads) {
                t.join();
            }
            return 0;
        });
        for (int i = 0; i < kThreads; ++i) {
            EXPECT_EQ(statuses[static_cast<std::size_t>(i)], BRR_STATUS_DONE);
            EXPECT_EQ(testsupport::ReadFile(scratch.Path("out" + std::to_string(i) + ".wav")),
                      expected[static_cast<std::size_t>(i)])
                << "thread " << i << " round " << round;
        }
    }
}

}  // namespace
