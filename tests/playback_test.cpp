// Playback rendering: what the hardware's voice outputs when it plays a
// rendering at a pitch, against a plain computation written here.
#include <gtest/gtest.h>

#include <algorithm>

#include "VornishAudioBRR.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::Samples;

namespace {

// The voice, one output at a time; `wrap` false leaves out the wrap of the
// third sum, to show where it matters.
Samples PlayPlainly(const Samples& decoded, std::uint32_t pitch, bool wrap = true)
{
    const std::int16_t* g = BRRInterpolationTable();
    const auto v = [&](std::int64_t j) { return j < 0 ? 0 : decoded[static_cast<std::size_t>(j)] / 2; };
    Samples out;
    for (std::uint64_t p = 0; (p >> 12) < decoded.size(); p += pitch) {
        const auto n = static_cast<std::int64_t>(p >> 12);
        const auto i = static_cast<int>((p >> 4) & 255);
        std::int32_t s = (g[255 - i] * v(n - 3)) >> 10;
        s += (g[511 - i] * v(n - 2)) >> 10;
        s += (g[256 + i] * v(n - 1)) >> 10;
        if (wrap && s > 32767) {
            s -= 65536;
        } else if (wrap && s < -32768) {
            s += 65536;
        }
        s += (g[i] * v(n)) >> 10;
        s = std::clamp(s, -32768, 32767);
        out.push_back(static_cast<std::int16_t>((s >> 1) * 2));
    }
    return out;
}

int Collect(void* context, const void* bytes, std::size_t size)
{
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + size);
    return 0;
}

Samples Played(const Bytes& blocks, BRRConvertOptions options, BRRConvertResult* result)
{
    Bytes wav;
    EXPECT_EQ(BRRConvertMemory(blocks.data(), blocks.size(), &options, Collect, &wav, result), BRR_OK);
    EXPECT_EQ(wav.size(), result->wavSize);
    EXPECT_EQ(Bytes(wav.begin() + 24, wav.begin() + 28), (Bytes{0x00, 0x7D, 0, 0}));  // 32000 Hz
    return testsupport::WavSamples(wav);
}

TEST(InterpolationTable, HoldsItsFacts)
{
    const std::int16_t* g = BRRInterpolationTable();
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(g[511], 1305);
    EXPECT_TRUE(std::is_sorted(g, g + 512));
    for (int i = 0; i < 256; ++i) {
        const int sum = g[i] + g[255 - i] + g[256 + i] + g[511 - i];
        EXPECT_TRUE(sum >= 2047 && sum <= 2049) << "i " << i << " sums to " << sum;
    }
}

// Every pitch class (slower than one step, one step, between, faster), once
// and with loops, under both rule sets; pieces of 3 blocks cut the source.
TEST(Playback, MatchesThePlainComputation)
{
    Bytes blocks = testsupport::RandomBytes(9 * 8, 31);
    for (std::size_t b = 0; b < blocks.size(); b += 9) {
        blocks[b] = static_cast<std::uint8_t>(0xC0 | (blocks[b] & 0x0C));  // loud: clamps and wraps
    }
    for (const int rules : {BRR_RULES_LIBRARY, BRR_RULES_HARDWARE}) {
        for (const std::uint32_t loops : {1u, 3u}) {
            testsupport::ReferenceDecoder reference;
            reference.hardware = rules == BRR_RULES_HARDWARE;
            Samples source = reference.DecodeBlocks(blocks);
            for (std::uint32_t pass = 1; pass < loops; ++pass) {
                const Samples again = reference.DecodeBlocks(Bytes(blocks.begin() + 9 * 2, blocks.end()));
                source.insert(source.end(), again.begin(), again.end());
            }
            for (const std::uint32_t pitch : {1u, 0x800u, 0x1000u, 0x1234u, 0x2000u, 0x3FFFu}) {
                SCOPED_TRACE("rules " + std::to_string(rules) + " loops " + std::to_string(loops) + " pitch " +
                             std::to_string(pitch));
                BRRConvertOptions options;
                BRRConvertOptionsInit(&options);
                options.rules = rules;
                options.loopCount = loops;
                options.loopStart = 2;
                options.play = pitch;
                options.pieceBlocks = 3;
                BRRConvertResult result;
                const Samples played = Played(blocks, options, &result);
                EXPECT_EQ(played, PlayPlainly(source, pitch));
                EXPECT_EQ(result.sampleCount, played.size());
                EXPECT_EQ(result.smpl, 0);
            }
        }
    }
}

// The hardware's own overflow: four blocks of range 12, filter 0, data
// 77 77 88 88 77 77 88 88 played at 4096 give +32752 where -32768 would be.
TEST(Playback, WrapsTheThirdSumAsTheHardwareDoes)
{
    Bytes blocks;
    for (int b = 0; b < 4; ++b) {
        blocks.insert(blocks.end(), {0xC0, 0x77, 0x77, 0x88, 0x88, 0x77, 0x77, 0x88, 0x88});
    }
    BRRConvertOptions options;
    BRRConvertOptionsInit(&options);
    options.play = BRR_PITCH_ONE;
    BRRConvertResult result;
    const Samples played = Played(blocks, options, &result);
    testsupport::ReferenceDecoder reference;
    const Samples unwrapped = PlayPlainly(reference.DecodeBlocks(blocks), BRR_PITCH_ONE, false);
    ASSERT_EQ(played.size(), 64u);
    std::size_t wrapped = 0;
    for (std::size_t k = 0; k < played.size(); ++k) {
        if (played[k] == 32752) {
            EXPECT_EQ(unwrapped[k], -32768) << k;
            ++wrapped;
        }
    }
    EXPECT_GT(wrapped, 0u);
}

}  // namespace
