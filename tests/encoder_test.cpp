// BRREncode: its statuses, the flags and loop it writes, and the closed loop:
// the error it reports is the error of what the decoder makes of its blocks,
// every value inside the safe range, under both rule sets and every effort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "VornishAudioBRR.h"

namespace {

std::vector<std::int16_t> Signal(std::size_t n, int kind)
{
    std::vector<std::int16_t> pcm(n);
    std::uint32_t seed = kind == 4 ? 55433 : 12345;
    double low = 0;
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = static_cast<double>(i);
        double v = 0;
        switch (kind) {
        case 0: v = 20000 * std::sin(t * 0.05) + 3000 * std::sin(t * 1.3); break;    // tone and treble
        case 1: v = (i / 23) % 2 == 0 ? 32767 : -32768; break;                       // full-scale square
        case 3: v = 24000 * std::sin(t * t * 0.00002); break;                      // chirp
        case 4:                                                                      // low noise
            low = 0.9 * low + 0.1 * static_cast<double>(static_cast<std::int32_t>(seed >> 16) - 32768);
            v = 3 * low;
            break;
        default: v = static_cast<double>(static_cast<std::int32_t>(seed >> 16) - 32768); break;  // noise
        }
        pcm[i] = static_cast<std::int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, v))));
    }
    return pcm;
}

BRREncodeOptions Options(int effort, int rules, std::int64_t loopStart = BRR_NO_LOOP_START)
{
    BRREncodeOptions o;
    BRREncodeOptionsInit(&o);
    o.effort = effort;
    o.rules = rules;
    o.loopStart = loopStart;
    return o;
}

BRREncodeOptions WithHeader(BRREncodeOptions o)
{
    o.loopHeader = 1;
    return o;
}

TEST(BRREncode, FailuresAreStatuses)
{
    const std::vector<std::int16_t> pcm = Signal(100, 0);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(BRR_ENCODED_SIZE(100)));
    struct Case {
        const char* name;
        std::size_t count;
        BRREncodeOptions options;
        std::size_t capacity;
        int status;
    };
    const BRREncodeOptions plain = Options(BRR_EFFORT_DEFAULT, BRR_RULES_HARDWARE);
    const Case cases[] = {
        {"no_samples", 0, plain, out.size(), BRR_STATUS_NO_BLOCKS},
        {"buffer_a_byte_short", 100, plain, out.size() - 1, BRR_STATUS_SMALL_BUFFER},
        {"loop_not_on_a_block", 100, Options(0, 1, 8), out.size(), BRR_STATUS_BAD_LOOP_START},
        {"loop_past_the_end", 96, Options(0, 1, 96), out.size(), BRR_STATUS_BAD_LOOP_START},
        {"loop_negative", 100, Options(0, 1, -16), out.size(), BRR_STATUS_BAD_LOOP_START},
        {"effort_3", 100, Options(3, 1), out.size(), BRR_STATUS_BAD_OPTION},
        {"rules_2", 100, Options(0, 2), out.size(), BRR_STATUS_BAD_OPTION},
        {"more_blocks_than_a_wav_holds", std::size_t{134217727} * 16, plain, SIZE_MAX, BRR_STATUS_TOO_LARGE},
        {"most_blocks_a_wav_holds", std::size_t{134217726} * 16, plain, 0, BRR_STATUS_SMALL_BUFFER},
        {"loop_of_part_blocks", 100, Options(0, 1, 64), out.size(), BRR_STATUS_BAD_OPTION},
        {"header_a_byte_short", 100, WithHeader(plain), out.size() + 1, BRR_STATUS_SMALL_BUFFER},
        {"header_cannot_hold_the_loop", 16 * 7283, WithHeader(Options(0, 1, 16 * 7282)), SIZE_MAX,
         BRR_STATUS_BAD_LOOP_HEADER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BRREncode(pcm.data(), c.count, &c.options, out.data(), c.capacity, nullptr), c.status);
        EXPECT_STRNE(BRRStatusText(c.status), "unknown status");
    }
    for (int field = 0; field < 2; ++field) {
        BRREncodeOptions reserved = plain;
        (field == 0 ? reserved.reserved0 : reserved.reserved[std::size(reserved.reserved) - 1]) = 1;
        EXPECT_EQ(BRREncode(pcm.data(), 100, &reserved, out.data(), out.size(), nullptr), BRR_STATUS_BAD_OPTION);
    }
    static_assert(sizeof(BRREncodeOptions) == 56, "the struct keeps its size on every host");
    // A loop 65536 bytes or more into the blocks needs no loop header to hold it.
    const std::vector<std::int16_t> far = Signal(16 * 7283, 0);
    std::vector<std::uint8_t> blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(far.size())));
    const BRREncodeOptions farLoop = Options(0, 1, 16 * 7282);
    EXPECT_EQ(BRREncode(far.data(), far.size(), &farLoop, blocks.data(), blocks.size(), nullptr), BRR_OK);
    EXPECT_EQ(BRREncode(nullptr, 100, nullptr, out.data(), out.size(), nullptr), BRR_STATUS_MISSING_PATH);
    EXPECT_EQ(BRREncode(pcm.data(), 100, nullptr, nullptr, out.size(), nullptr), BRR_STATUS_MISSING_PATH);
}

// Decodes the blocks and checks what BRREncode promised of them.
void CheckBlocks(const std::vector<std::uint8_t>& blocks, const std::vector<std::int16_t>& pcm,
                 const BRREncodeOptions& o, const BRREncodeResult& result)
{
    const std::size_t count = blocks.size() / BRR_BLOCK_SIZE;
    ASSERT_EQ(result.blockCount, count);
    std::vector<std::int16_t> decoded(count * 16);
    BRRDecoder decoder;
    BRRDecoderInit(&decoder, o.rules);
    BRRDecodeBlocks(&decoder, blocks.data(), count, decoded.data());
    std::uint64_t error = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const std::int64_t e = decoded[i] - (i < pcm.size() ? pcm[i] : 0);
        error += static_cast<std::uint64_t>(e * e);
        ASSERT_GE(decoded[i] / 2, BRR_SAFE_MIN) << i;
        ASSERT_LE(decoded[i] / 2, BRR_SAFE_MAX) << i;
    }
    EXPECT_EQ(result.squaredError, error);
    std::uint64_t energy = 0;
    for (const std::int16_t v : pcm) {
        energy += static_cast<std::uint64_t>(std::int64_t{v} * v);
    }
    EXPECT_EQ(result.signalEnergy, energy);
    for (std::size_t b = 0; b < count; ++b) {
        const std::uint8_t header = blocks[b * BRR_BLOCK_SIZE];
        const bool start = b == 0 || static_cast<std::int64_t>(b * 16) == o.loopStart;
        EXPECT_LE(header >> 4, 12) << b;
        EXPECT_TRUE(!start || (header & 0x0C) == 0) << b;  // filter 0
        const int flags = b + 1 < count ? 0 : (o.loopStart >= 0 ? 3 : 1);
        EXPECT_EQ(header & 3, flags) << b;
    }
}

TEST(BRREncode, ReportsTheDecodersErrorInsideTheSafeRange)
{
    for (int kind = 0; kind < 3; ++kind) {
        const std::vector<std::int16_t> pcm = Signal(kind == 0 ? 1008 : 1000 + static_cast<std::size_t>(kind), kind);
        std::uint64_t errors[3] = {};
        for (int rules = 0; rules < 2; ++rules) {
            for (int effort = 0; effort < 3; ++effort) {
                SCOPED_TRACE(testing::Message() << "signal " << kind << " rules " << rules << " effort " << effort);
                const BRREncodeOptions o = Options(effort, rules, kind == 0 ? 320 : BRR_NO_LOOP_START);
                std::vector<std::uint8_t> blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(pcm.size())));
                BRREncodeResult result;
                ASSERT_EQ(BRREncode(pcm.data(), pcm.size(), &o, blocks.data(), blocks.size(), &result), BRR_OK);
                CheckBlocks(blocks, pcm, o, result);
                EXPECT_EQ(result.loopBlock, kind == 0 ? 20 : BRR_NO_LOOP_START);
                std::vector<std::uint8_t> again(blocks.size());
                BRREncode(pcm.data(), pcm.size(), &o, again.data(), again.size(), nullptr);
                EXPECT_EQ(again, blocks);  // deterministic
                // With the loop header in front, and told how far it has come.
                BRREncodeOptions file = WithHeader(o);
                std::vector<std::uint64_t> told;
                file.progress = [](void* context, std::uint64_t done, std::uint64_t total) {
                    static_cast<std::vector<std::uint64_t>*>(context)->push_back(total - done);
                };
                file.progressContext = &told;
                std::vector<std::uint8_t> withHeader(static_cast<std::size_t>(BRR_ENCODED_FILE_SIZE(pcm.size())));
                ASSERT_EQ(BRREncode(pcm.data(), pcm.size(), &file, withHeader.data(), withHeader.size(), nullptr),
                          BRR_OK);
                const std::uint8_t loop[2] = {static_cast<std::uint8_t>(kind == 0 ? 180 : 0), 0};
                EXPECT_TRUE(std::equal(loop, loop + 2, withHeader.begin()));
                EXPECT_TRUE(std::equal(blocks.begin(), blocks.end(), withHeader.begin() + 2));
                EXPECT_EQ(told.size(), 2u);
                EXPECT_EQ(told.front(), blocks.size() / BRR_BLOCK_SIZE);  // the first call at block 0
                EXPECT_EQ(told.back(), 0u);
                errors[effort] = result.squaredError;
            }
            EXPECT_LT(errors[BRR_EFFORT_DEFAULT], errors[BRR_EFFORT_FAST]);
            EXPECT_LT(errors[BRR_EFFORT_BEST], errors[BRR_EFFORT_FAST]);
        }
    }
}

// The least squared error one filter-0 block can have: each sample on its
// own, every code and range tried.
std::uint64_t BestFilter0Block(const std::int16_t* t, bool safe)
{
    const int lo = safe ? BRR_SAFE_MIN : -16384;
    const int hi = safe ? BRR_SAFE_MAX : 16383;
    std::uint64_t best = UINT64_MAX;
    for (int range = 0; range <= 12; ++range) {
        std::uint64_t total = 0;
        for (int k = 0; k < 16; ++k) {
            std::uint64_t least = UINT64_MAX;
            for (int code = -8; code < 8; ++code) {
                const int x = code * (1 << range) / 2 - (code < 0 && range == 0 ? 1 : 0);  // (code << range) >> 1
                const std::int64_t e = 2 * x - t[k];
                least = x >= lo && x <= hi ? std::min(least, static_cast<std::uint64_t>(e * e)) : least;
            }
            total += least;
        }
        best = std::min(best, total);
    }
    return best;
}

// One block from an empty history must be filter 0, so its best is known
// exactly; every effort reaches it. Small blocks make errors that tie or
// differ by one between ranges, large ones meet the window's edges.
TEST(BRREncode, OneBlockIsTheExhaustiveBest)
{
    std::uint32_t seed = 99;
    for (int n = 0; n < 600; ++n) {
        std::int16_t t[16];
        const int scale = n % 3 == 0 ? 24 : n % 3 == 1 ? 700 : 65536;
        for (std::int16_t& v : t) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<std::int16_t>(static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(scale)) - scale / 2);
        }
        for (int effort = 0; effort < 3; ++effort) {
            for (const int safe : {0, 1}) {
                BRREncodeOptions o = Options(effort, n % 2);
                o.safeRange = safe;
                std::uint8_t block[9];
                BRREncodeResult result;
                ASSERT_EQ(BRREncode(t, 16, &o, block, sizeof block, &result), BRR_OK);
                ASSERT_EQ(result.squaredError, BestFilter0Block(t, safe != 0))
                    << "block " << n << " effort " << effort << " safe " << safe;
            }
        }
    }
}

// A tone clipped beyond full scale decodes onto the safe range's bounds
// exactly, at every effort, and never past them.
TEST(BRREncode, ReachesTheSafeBoundsExactly)
{
    std::vector<std::int16_t> pcm(4096);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(std::fmax(-32768, std::fmin(32767, 33000 * std::sin(0.3 * static_cast<double>(i)))));
    }
    for (int effort = 0; effort < 3; ++effort) {
        const BRREncodeOptions o = Options(effort, BRR_RULES_HARDWARE);
        std::vector<std::uint8_t> blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(pcm.size())));
        BRREncodeResult result;
        ASSERT_EQ(BRREncode(pcm.data(), pcm.size(), &o, blocks.data(), blocks.size(), &result), BRR_OK);
        std::vector<std::int16_t> decoded(pcm.size());
        BRRDecoder decoder;
        BRRDecoderInit(&decoder, o.rules);
        BRRDecodeBlocks(&decoder, blocks.data(), blocks.size() / 9, decoded.data());
        EXPECT_EQ(*std::max_element(decoded.begin(), decoded.end()), 2 * BRR_SAFE_MAX) << "effort " << effort;
        EXPECT_EQ(*std::min_element(decoded.begin(), decoded.end()), 2 * BRR_SAFE_MIN) << "effort " << effort;
    }
}

// Known answers and quality floors on generated signals: the squared error
// each effort reaches today (any change to the search shows), and the SNR
// no later change may fall below.
// Every effort keeps each signal above its quality floor, and the wider
// searches never do worse than the per-block one.
TEST(BRREncode, QualityFloorsAndWiderSearches)
{
    struct Case {
        int kind;
        std::int64_t loopStart;
        double floors[3];  // dB
    };
    const Case cases[] = {
        {0, 2048, {36.1, 37.5, 37.7}},                // tone and treble
        {1, 2048, {37.2, 37.5, 37.6}},                // full-scale square
        {2, 2048, {23.7, 23.9, 23.9}},                // noise
        {3, 2048, {46.4, 46.5, 46.5}},                // chirp
        {4, BRR_NO_LOOP_START, {27.6, 28.2, 28.3}},   // low noise
    };
    for (const Case& c : cases) {
        const std::vector<std::int16_t> pcm = Signal(4096, c.kind);
        std::uint64_t errors[3] = {};
        for (int effort = 0; effort < 3; ++effort) {
            const BRREncodeOptions o = Options(effort, BRR_RULES_HARDWARE, c.loopStart);
            std::vector<std::uint8_t> blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(pcm.size())));
            BRREncodeResult result;
            ASSERT_EQ(BRREncode(pcm.data(), pcm.size(), &o, blocks.data(), blocks.size(), &result), BRR_OK);
            CheckBlocks(blocks, pcm, o, result);
            const double snr = 10 * std::log10(static_cast<double>(result.signalEnergy) /
                                               static_cast<double>(result.squaredError));
            EXPECT_GE(snr, c.floors[effort]) << "signal " << c.kind << " effort " << effort;
            errors[effort] = result.squaredError;
        }
        EXPECT_LE(errors[BRR_EFFORT_DEFAULT], errors[BRR_EFFORT_FAST]) << "signal " << c.kind;
        EXPECT_LE(errors[BRR_EFFORT_BEST], errors[BRR_EFFORT_FAST]) << "signal " << c.kind;
    }
}

}  // namespace

namespace {

// The seam on samples: a loop of whole periods joins exactly, one of noise
// as badly as two unrelated noises (twice the loop's power: 3 dB), one from
// the start as badly as the loop's power against silence (0 dB); and the
// encoder's figure is that of its own blocks decoded.
TEST(BRRLoopSeam, MeasuresTheJoin)
{
    std::vector<std::int16_t> periodic(4096);
    for (std::size_t i = 0; i < periodic.size(); ++i) {
        periodic[i] = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * static_cast<double>(i % 64) / 64));
    }
    const std::vector<std::int16_t> noise = Signal(65536, 2);
    EXPECT_EQ(BRRLoopSeam(periodic.data(), periodic.size(), 1024), -INFINITY);
    EXPECT_NEAR(BRRLoopSeam(noise.data(), noise.size(), 32768), 3.0, 1.0);
    // A loop from the first sample joins the end to the silence before it.
    EXPECT_NEAR(BRRLoopSeam(periodic.data(), periodic.size(), 0), 0.0, 0.5);
    EXPECT_TRUE(std::isnan(BRRLoopSeam(periodic.data(), periodic.size(), periodic.size())));
    EXPECT_TRUE(std::isnan(BRRLoopSeam(nullptr, 16, 0)));
    BRREncodeOptions o;
    BRREncodeOptionsInit(&o);
    o.loopStart = 2048;
    std::vector<std::uint8_t> blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(periodic.size())));
    BRREncodeResult r;
    ASSERT_EQ(BRREncode(periodic.data(), periodic.size(), &o, blocks.data(), blocks.size(), &r), BRR_OK);
    std::vector<std::int16_t> decoded(periodic.size());
    BRRDecoder d;
    BRRDecoderInit(&d, BRR_RULES_HARDWARE);
    BRRDecodeBlocks(&d, blocks.data(), blocks.size() / BRR_BLOCK_SIZE, decoded.data());
    EXPECT_EQ(r.loopSeam, BRRLoopSeam(decoded.data(), decoded.size(), 2048));
    // Read through a function, in pieces: the same figure, and each refusal.
    const auto read = [](void* c, std::uint64_t at, void* out, std::size_t n) {
        const auto* b = static_cast<const std::vector<std::uint8_t>*>(c);
        if (at + n > b->size()) {
            return -1;
        }
        std::copy(b->begin() + static_cast<std::ptrdiff_t>(at), b->begin() + static_cast<std::ptrdiff_t>(at + n),
                  static_cast<std::uint8_t*>(out));
        return 0;
    };
    const std::uint64_t count = blocks.size() / BRR_BLOCK_SIZE;
    double seam = 0;
    EXPECT_EQ(BRRLoopSeamOfBlocks(read, &blocks, 0, count, 128, BRR_RULES_HARDWARE, &seam), BRR_OK);
    EXPECT_EQ(seam, r.loopSeam);
    EXPECT_EQ(BRRLoopSeamOfBlocks(read, &blocks, 9, count, 128, BRR_RULES_HARDWARE, &seam), BRR_STATUS_READ_ERROR);
    EXPECT_EQ(BRRLoopSeamOfBlocks(read, &blocks, 0, count, count, BRR_RULES_HARDWARE, &seam), BRR_STATUS_BAD_LOOP_START);
    EXPECT_EQ(BRRLoopSeamOfBlocks(read, &blocks, 0, count, 128, 7, &seam), BRR_STATUS_BAD_OPTION);
    EXPECT_EQ(BRRLoopSeamOfBlocks(nullptr, &blocks, 0, count, 128, BRR_RULES_HARDWARE, &seam), BRR_STATUS_MISSING_PATH);
    o.loopStart = BRR_NO_LOOP_START;
    ASSERT_EQ(BRREncode(periodic.data(), periodic.size(), &o, blocks.data(), blocks.size(), &r), BRR_OK);
    EXPECT_TRUE(std::isnan(r.loopSeam));
}

}  // namespace
