#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "VornishAudioBRR.h"
#include "test_support.h"

using testsupport::Bytes;
using testsupport::Samples;

namespace {

// Decodes `blocks` with one decoder of `rules`, from a history whose last
// value is `last`, in pieces of `piece(i)` blocks (call i), or whole.
Samples Decode(const Bytes& blocks, int rules = BRR_RULES_LIBRARY,
               const std::function<std::size_t(std::size_t)>& piece = nullptr, std::int16_t last = 0)
{
    BRRDecoder decoder;
    BRRDecoderInit(&decoder, rules);
    decoder.last = last;
    const std::size_t count = blocks.size() / 9;
    Samples out(count * 16);
    for (std::size_t done = 0, call = 0; done < count; ++call) {
        const std::size_t n = piece ? std::min(piece(call), count - done) : count;
        BRRDecodeBlocks(&decoder, blocks.data() + 9 * done, n, out.data() + 16 * done);
        done += n;
    }
    return out;
}

Samples WithZeros(Samples head, std::size_t total)
{
    head.resize(total, 0);
    return head;
}

struct KnownAnswer {
    const char* name;
    Bytes blocks;
    Samples samples;
    int rules = BRR_RULES_LIBRARY;
    std::int16_t last = 0;  // the history's last value before the first block
};

const Bytes kFilter1Zeros = {0x04, 0, 0, 0, 0, 0, 0, 0, 0};

// Hand-checked vectors, from a zero history unless `last` says otherwise.
const KnownAnswer kKnownAnswers[] = {
    // Where the two rule sets differ: filter 1, and ranges 13 to 15.
    {"library_filter1_from_100", kFilter1Zeros,
     {188, 178, 168, 158, 150, 142, 134, 126, 120, 114, 108, 102, 96, 90, 86, 82}, BRR_RULES_LIBRARY, 100},
    {"hardware_filter1_from_100", kFilter1Zeros,
     {186, 174, 162, 150, 140, 130, 120, 112, 104, 96, 90, 84, 78, 72, 66, 60}, BRR_RULES_HARDWARE, 100},
    {"library_filter1_from_minus_1", kFilter1Zeros, Samples(16, 0), BRR_RULES_LIBRARY, -1},
    {"hardware_filter1_from_minus_1", kFilter1Zeros, Samples(16, -2), BRR_RULES_HARDWARE, -1},
    // -16384, whose negation leaves the 15-bit domain, then filter 1 on it.
    {"hardware_filter1_from_minus_16384", {0xC4, 0x80, 0, 0, 0, 0, 0, 0, 0},
     {-32768, -30720, -28800, -27000, -25314, -23732, -22250, -20860, -19558, -18336, -17190, -16116, -15110,
      -14166, -13282, -12452},
     BRR_RULES_HARDWARE},
    {"hardware_range13_codes_0_and_8", {0xD0, 0x08, 0, 0, 0, 0, 0, 0, 0}, WithZeros({0, -4096}, 16),
     BRR_RULES_HARDWARE},
    {"hardware_range15", {0xF0, 0x80, 0x7F, 0, 0, 0, 0, 0, 0}, WithZeros({-4096, 0, 0, -4096}, 16),
     BRR_RULES_HARDWARE},
    {"range12_filter0", {0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0}, WithZeros({28672, -4096}, 16)},
    {"range12_filter1_wraps",
     {0xC4, 0x77, 0x77, 0, 0, 0, 0, 0, 0},
     {28672, -9984, 19312, -18758, -17584, -16484, -15452, -14486, -13580, -12730, -11934, -11188,
      -10488, -9832, -9216, -8640}},
    {"range13_code0_is_2048",
     {0xD0, 0x08, 0, 0, 0, 0, 0, 0, 0},
     {4096, -4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096}},
    {"range15_like_13", {0xF0, 0x80, 0, 0, 0, 0, 0, 0, 0}, {-4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096}},
    {"range0_rounds_down", {0x00, 0x1F, 0xF1, 0, 0, 0, 0, 0, 0}, WithZeros({0, -2, -2, 0}, 16)},
    {"range12_most_negative", {0xC0, 0x88, 0, 0, 0, 0, 0, 0, 0}, WithZeros({-32768, -32768}, 16)},
    {"history_runs_into_next_block",
     {0xC0, 0x77, 0, 0, 0, 0, 0, 0, 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0},
     WithZeros({28672, 28672}, 32)},
};

void PrintTo(const KnownAnswer& answer, std::ostream* os) { *os << answer.name; }

class KnownAnswerTest : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(KnownAnswerTest, DecodesToExpectedSamples)
{
    EXPECT_EQ(Decode(GetParam().blocks, GetParam().rules, nullptr, GetParam().last), GetParam().samples);
}

INSTANTIATE_TEST_SUITE_P(Blocks, KnownAnswerTest, ::testing::ValuesIn(kKnownAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BRRDecodeBlocks, Filter2FromPeakWrapsBothWays)
{
    // The first block ends on the peak (last 14336, older 0); the second
    // decodes zeros with filter 2: 27328 wraps to -5440, then -23810 wraps to
    // 8958, then 22176 wraps to -10592.
    const Bytes blocks = {0xC0, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
    const Samples samples = Decode(blocks);
    EXPECT_EQ(samples[15], 28672);
    EXPECT_EQ(samples[16], -10880);
    EXPECT_EQ(samples[17], 17916);
    EXPECT_EQ(samples[18], -21184);
}

TEST(BRRDecodeBlock, LowHeaderBitsChangeNothing)
{
    const Bytes data = testsupport::RandomBytes(8 * 64, 7);
    for (int headerValue = 0; headerValue < 256; headerValue += 4) {
        const auto header = static_cast<std::uint8_t>(headerValue);
        Samples decoded[4];
        for (std::uint8_t flags = 0; flags < 4; ++flags) {
            Bytes blocks;
            for (std::size_t b = 0; b < 64; ++b) {
                blocks.push_back(static_cast<std::uint8_t>(header | flags));
                blocks.insert(blocks.end(), data.begin() + static_cast<long>(8 * b),
                              data.begin() + static_cast<long>(8 * b + 8));
            }
            decoded[flags] = Decode(blocks);
        }
        EXPECT_EQ(decoded[1], decoded[0]) << "header " << int(header);
        EXPECT_EQ(decoded[2], decoded[0]) << "header " << int(header);
        EXPECT_EQ(decoded[3], decoded[0]) << "header " << int(header);
    }
}

// The fast decoder must agree with the plain one bit for bit: on random
// blocks (every header value), and on blocks built to drive the clamp and the
// wrap at both ends with the strongest filters.
TEST(BRRDecodeBlocks, MatchesReferenceDecoder)
{
    struct Case {
        const char* name;
        Bytes blocks;
    };
    Bytes extremes;
    const std::uint8_t codes[] = {0x77, 0x88, 0x78, 0x87, 0x70, 0x08, 0xFF, 0x11};
    for (int i = 0; i < 4000; ++i) {
        const std::uint8_t range = static_cast<std::uint8_t>(i % 3 == 0 ? 12 : 9 + i % 7);
        const std::uint8_t filter = static_cast<std::uint8_t>(2 + (i / 5) % 2);
        extremes.push_back(static_cast<std::uint8_t>(range << 4 | filter << 2));
        for (int k = 0; k < 8; ++k) {
            extremes.push_back(codes[(i * 3 + k * (i / 8)) % 8]);
        }
    }
    const Case cases[] = {
        {"random", testsupport::RandomBytes(9 * 200000, 1)},
        {"extremes", extremes},
    };
    for (const int rules : {BRR_RULES_LIBRARY, BRR_RULES_HARDWARE})
    for (const Case& c : cases) {
        SCOPED_TRACE(rules == BRR_RULES_HARDWARE ? "hardware rules" : "library rules");
        testsupport::ReferenceDecoder reference;
        reference.hardware = rules == BRR_RULES_HARDWARE;
        const Samples expected = reference.DecodeBlocks(c.blocks);
        const Samples actual = Decode(c.blocks, rules);
        ASSERT_EQ(actual.size(), expected.size());
        // Any split into pieces decodes as the whole: pieces of 1 to 37
        // blocks (an empty piece, too), the history carried by the decoder.
        const Bytes split = testsupport::RandomBytes(4096, 77);
        EXPECT_EQ(Decode(c.blocks, rules, [&](std::size_t call) { return std::size_t{split[call % 4096]} % 38; }),
                  expected) << c.name;
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < actual.size(); ++i) {
            if (actual[i] != expected[i] && mismatches++ < 5) {
                ADD_FAILURE() << c.name << ": sample " << i << " is " << actual[i] << ", expected "
                              << expected[i];
            }
        }
        EXPECT_EQ(mismatches, 0u) << c.name;
        // The comparison only means something if both clamps were driven,
        // with both filters that can reach them.
        for (int filter = 2; filter <= 3; ++filter) {
            EXPECT_GT(reference.clampedHigh[filter], 10u) << c.name << " filter " << filter;
            EXPECT_GT(reference.clampedLow[filter], 10u) << c.name << " filter " << filter;
        }
    }
}

TEST(BRRDecodeBlocks, ExtremeBlocksReachClampAndWrap)
{
    // Guards the test above: the extreme blocks must really hit both ends.
    Bytes blocks;
    for (int i = 0; i < 200; ++i) {
        const std::uint8_t block[9] = {0xCC, 0x77, 0x77, 0x77, 0x77, 0x88, 0x88, 0x88, 0x88};
        blocks.insert(blocks.end(), block, block + 9);
    }
    const Samples samples = Decode(blocks);
    EXPECT_NE(std::find(samples.begin(), samples.end(), -2), samples.end());  // 32767 wrapped
    EXPECT_NE(std::find(samples.begin(), samples.end(), 0), samples.end());
    testsupport::ReferenceDecoder reference;
    EXPECT_EQ(samples, reference.DecodeBlocks(blocks));
}

}  // namespace
