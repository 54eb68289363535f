// Playback rendering: what the hardware's voice outputs when it plays a
// rendering at a pitch. Known outputs worked out by hand from the table (an
// impulse shows each tap and its weight), the hardware's own overflow, and
// the same voice whatever the pieces it is fed in.
#include <gtest/gtest.h>

#include "VornishAudioBRR.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::Samples;

namespace {

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

BRRConvertOptions PlayAt(std::uint32_t pitch)
{
    BRRConvertOptions options;
    BRRConvertOptionsInit(&options);
    options.play = pitch;
    return options;
}

// The table's sums, as the hardware's table has them: any other table
// (sorted or not) fails at least one.
TEST(InterpolationTable, HasTheHardwaresSums)
{
    const std::int16_t* g = BRRInterpolationTable();
    std::int64_t sum = 0, weighted = 0, squares = 0;
    int taps[3] = {0, 0, 0};  // the four weights of one fraction sum to 2047, 2048 or 2049
    for (int i = 0; i < 512; ++i) {
        sum += g[i];
        weighted += std::int64_t{i} * g[i];
        squares += std::int64_t{g[i]} * g[i];
    }
    for (int i = 0; i < 256; ++i) {
        const int four = g[i] + g[255 - i] + g[256 + i] + g[511 - i];
        ASSERT_TRUE(four >= 2047 && four <= 2049) << i;
        ++taps[four - 2047];
    }
    EXPECT_EQ(sum, 262146);
    EXPECT_EQ(weighted, 101429155);
    EXPECT_EQ(squares, 246762918);
    EXPECT_EQ(taps[0], 42);
    EXPECT_EQ(taps[1], 168);
    EXPECT_EQ(taps[2], 46);
}

// One value of 14336 (range 12, code 7) and silence: every output is 14
// times the table weight of the tap the value sits under (14336 / 1024).
TEST(Playback, AnImpulseShowsEveryTap)
{
    const Bytes impulse = {0xC0, 0x70, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        std::uint32_t pitch;
        Samples first;  // the outputs; the rest are 0
        std::size_t count;
    };
    const Case cases[] = {
        {BRR_PITCH_ONE, {0, 14 * 374, 14 * 1305, 14 * 370}, 16},  // g[256], g[511], g[255]
        {0x800, {0, 14 * 58, 14 * 374, 14 * 969, 14 * 1305, 14 * 965, 14 * 370, 14 * 56}, 32},  // half steps
        {0x1234, {0, 7308, 16702, 1218}, 15},  // g[291], g[441], g[150]
        {0x2000, {0, 14 * 1305}, 8},          // every other sample: g[511] alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pitch);
        BRRConvertResult result;
        Samples expected(c.count, 0);
        std::copy(c.first.begin(), c.first.end(), expected.begin());
        EXPECT_EQ(Played(impulse, PlayAt(c.pitch), &result), expected);
        EXPECT_EQ(result.sampleCount, c.count);
        EXPECT_EQ(result.smpl, 0);
    }
}

// The hardware's own overflow: four blocks of range 12, filter 0, data
// 77 77 88 88 77 77 88 88 played at 4096. The third partial sum wraps to 16
// bits before the fourth is added and clamped, which gives +32752 where a
// plain clamp would give -32768, at the last sample of each run of -16384s.
TEST(Playback, WrapsTheThirdSumAsTheHardwareDoes)
{
    Bytes blocks;
    for (int b = 0; b < 4; ++b) {
        blocks.insert(blocks.end(), {0xC0, 0x77, 0x77, 0x88, 0x88, 0x77, 0x77, 0x88, 0x88});
    }
    BRRConvertResult result;
    const Samples played = Played(blocks, PlayAt(BRR_PITCH_ONE), &result);
    ASSERT_EQ(played.size(), 64u);
    EXPECT_EQ(Samples(played.begin(), played.begin() + 16),
              (Samples{0, 5236, 23506, 28686, 28686, 17466, -21684, 32752, 32752, -21564, 17586, 28686, 28686,
                       17466, -21684, 32752}));
    for (std::size_t k = 7; k < 64; k += 8) {
        EXPECT_EQ(played[k], 32752) << k;
        EXPECT_EQ(played[k + 1 < 64 ? k + 1 : k], 32752) << k;
    }
}

// The voice carries its position and last four values across pieces and
// passes: pieces of one or three blocks play exactly as one whole piece, at
// every pitch class, under both rule sets.
TEST(Playback, PiecesPlayAsOne)
{
    Bytes blocks = testsupport::RandomBytes(9 * 8, 31);
    for (std::size_t b = 0; b < blocks.size(); b += 9) {
        blocks[b] = static_cast<std::uint8_t>(0xC0 | (blocks[b] & 0x0C));  // loud: clamps and wraps
    }
    for (const int rules : {BRR_RULES_LIBRARY, BRR_RULES_HARDWARE}) {
        for (const std::uint32_t pitch : {1u, 0x800u, 0x1000u, 0x1234u, 0x2000u, 0x3FFFu}) {
            SCOPED_TRACE(testing::Message() << "rules " << rules << " pitch " << pitch);
            BRRConvertOptions options = PlayAt(pitch);
            options.rules = rules;
            options.loopCount = 3;
            options.loopStart = 2;
            BRRConvertResult result;
            const Samples whole = Played(blocks, options, &result);
            EXPECT_EQ(result.sampleCount, (std::uint64_t{16} * (8 + 2 * 6) * BRR_PITCH_ONE + pitch - 1) / pitch);
            for (const std::size_t piece : {1u, 3u}) {
                options.pieceBlocks = piece;
                EXPECT_EQ(Played(blocks, options, &result), whole) << "pieces of " << piece;
            }
        }
    }
}

}  // namespace
