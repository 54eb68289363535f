// The scan's finds do not depend on the stretches it looks at the image in:
// a bank of long samples (padded and back to back) among random bytes,
// scanned in one stretch and in stretches of a few KiB, finds the same.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "VornishAudioBRR.h"
#include "scan/scan.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Tone(std::size_t count, double pitch, double decay)
{
    std::vector<std::int16_t> pcm(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i);
        pcm[i] = static_cast<std::int16_t>(12000 * std::exp(-t / decay) * std::sin(pitch * t) * std::sin(0.5 * pitch * t + 1));
    }
    BRREncodeOptions o;
    BRREncodeOptionsInit(&o);
    o.effort = BRR_EFFORT_FAST;
    Bytes blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(count)));
    EXPECT_EQ(BRREncode(pcm.data(), count, &o, blocks.data(), blocks.size(), nullptr), BRR_OK);
    return blocks;
}

std::vector<BRRFound> ScanIn(const Bytes& image, std::uint64_t stretch)
{
    BRRScanOptions o;
    BRRScanOptionsInit(&o);
    std::vector<BRRFound> finds;
    vornish::scan::ScanStretches(image.data(), image.size(), o, {}, [](void* c, const BRRFound* f) {
        static_cast<std::vector<BRRFound>*>(c)->push_back(*f);
        return 0;
    }, &finds, stretch);
    return finds;
}

TEST(ScanStretches, FindTheSameWhateverTheirSize)
{
    std::mt19937 random(3);
    Bytes image(std::size_t{3} << 18);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    std::size_t at = 5000;
    for (int k = 0; at + 40000 < image.size(); ++k) {
        const Bytes s = Tone(1600 + 900 * static_cast<std::size_t>(k % 5), 0.03 + 0.011 * (k % 7), 400 + 300 * (k % 4));
        std::memcpy(&image[at], s.data(), s.size());
        const std::size_t next = k % 3 == 0 ? at + s.size() : (at + s.size() + 255) / 256 * 256;  // packed or padded
        std::fill(image.begin() + static_cast<long>(at + s.size()), image.begin() + static_cast<long>(next), 0);
        at = next + (k % 4 == 3 ? 3000 + 17 * static_cast<std::size_t>(k) : 0);  // other bytes between banks
    }
    // A sample whose end block lies just past a stretch's end.
    const Bytes edge = Tone(3200, 0.05, 2000);
    const std::size_t edgeAt = image.size() - 4096 * 3 + 2 - edge.size();
    std::memcpy(&image[edgeAt], edge.data(), edge.size());
    const std::vector<BRRFound> whole = ScanIn(image, std::uint64_t{4} << 20);
    ASSERT_GT(whole.size(), 20u);
    EXPECT_TRUE(std::any_of(whole.begin(), whole.end(), [&](const BRRFound& f) {
        return f.offset == edgeAt && f.blocks == edge.size() / BRR_BLOCK_SIZE;
    }));
    for (const std::uint64_t stretch : {4096u, 1000u, 9u * 457u}) {
        const std::vector<BRRFound> pieces = ScanIn(image, stretch);
        ASSERT_EQ(pieces.size(), whole.size()) << stretch;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(std::memcmp(&pieces[i], &whole[i], sizeof(BRRFound)), 0) << stretch << " find " << i;
        }
    }
}

}  // namespace
