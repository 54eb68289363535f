// Generated signals converted end to end through the exported function, and
// conversions on several threads at once.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "VornishAudioBRRDecoder.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::Samples;
using testsupport::ScratchDir;

namespace {

// A small encoder: for each block, every range 0..12 and filter 0..3 is tried,
// each code chosen greedily as the one whose decoded value lands nearest the
// target, and the block with the least squared error is kept. It decodes with
// the test's own reference arithmetic, never with the library's.
Bytes EncodeBlocks(const std::vector<double>& signal)
{
    Bytes blocks;
    testsupport::ReferenceDecoder state;
    for (std::size_t start = 0; start + 16 <= signal.size(); start += 16) {
        double bestError = 1e300;
        Bytes best;
        testsupport::ReferenceDecoder bestState;
        for (int range = 0; range <= 12; ++range) {
            for (int filter = 0; filter <= 3; ++filter) {
                testsupport::ReferenceDecoder trial = state;
                Bytes block(9, 0);
                block[0] = static_cast<std::uint8_t>(range << 4 | filter << 2);
                double error = 0;
                for (int i = 0; i < 16; ++i) {
                    const double target = signal[start + static_cast<std::size_t>(i)];
                    int bestCode = 0;
                    double bestCodeError = 1e300;
                    testsupport::ReferenceDecoder bestTrial;
                    for (int code = 0; code < 16; ++code) {
                        testsupport::ReferenceDecoder probe = trial;
                        const double e = probe.DecodeCode(code, range, filter) - target;
                        if (e * e < bestCodeError) {
                            bestCodeError = e * e;
                            bestCode = code;
                            bestTrial = probe;
                        }
                    }
                    trial = bestTrial;
                    error += bestCodeError;
                    block[1 + static_cast<std::size_t>(i / 2)] |=
                        static_cast<std::uint8_t>(i % 2 == 0 ? bestCode << 4 : bestCode);
                }
                if (error < bestError) {
                    bestError = error;
                    best = block;
                    bestState = trial;
                }
            }
        }
        blocks.insert(blocks.end(), best.begin(), best.end());
        state = bestState;
    }
    return blocks;
}

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

TEST(EndToEnd, EncodedToneComesBackAboveTwentyDecibels)
{
    // 440 Hz and 1250 Hz at 8000 Hz, 0.4 s, 16-bit amplitudes.
    std::vector<double> signal(3200);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        signal[i] = 16000.0 * std::sin(2 * M_PI * 440 * t) + 6000.0 * std::sin(2 * M_PI * 1250 * t);
    }
    ScratchDir scratch;
    const Bytes wav = ConvertThroughExport(scratch, "tone", EncodeBlocks(signal));
    ASSERT_EQ(wav.size(), 44 + 2 * signal.size());
    EXPECT_EQ(Bytes(wav.begin(), wav.begin() + 44), testsupport::ExpectedWavHeader(8000, 200));
    const Samples decoded = testsupport::WavSamples(wav);
    double signalPower = 0;
    double noisePower = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        signalPower += signal[i] * signal[i];
        noisePower += (decoded[i] - signal[i]) * (decoded[i] - signal[i]);
    }
    const double snr = 10 * std::log10(signalPower / noisePower);
    EXPECT_GT(snr, 20.0);
    RecordProperty("snr_db", std::to_string(snr));
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
