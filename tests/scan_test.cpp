// BRRScan through the public API: known answers on images built here (a
// bank among random bytes, a memory image and its directory), stopping, and
// every option field refused past its range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <cstring>
#include <random>
#include <vector>

#include "VornishAudioBRR.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A decaying two-partial tone of `count` samples, encoded: a sample as an
// encoder makes one. Its first `soft` samples are far quieter, as the onset
// of a sound can be.
Bytes Sample(std::size_t count, double pitch, std::int64_t loopStart = BRR_NO_LOOP_START, std::size_t soft = 0)
{
    std::vector<std::int16_t> pcm(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i);
        const double level = i < soft ? 200 : 9000 * std::exp(-t / 3000);
        pcm[i] = static_cast<std::int16_t>(level * (std::sin(pitch * t) + 0.3 * std::sin(3.1 * pitch * t)));
    }
    BRREncodeOptions o;
    BRREncodeOptionsInit(&o);
    o.effort = BRR_EFFORT_FAST;
    o.loopStart = loopStart;
    Bytes blocks(static_cast<std::size_t>(BRR_ENCODED_SIZE(count)));
    EXPECT_EQ(BRREncode(pcm.data(), count, &o, blocks.data(), blocks.size(), nullptr), BRR_OK);
    return blocks;
}

std::vector<BRRFound> Scan(const Bytes& image, const BRRScanOptions* options = nullptr, int* status = nullptr)
{
    std::vector<BRRFound> finds;
    const int s = BRRScan(image.data(), image.size(), options, [](void* c, const BRRFound* f) {
        static_cast<std::vector<BRRFound>*>(c)->push_back(*f);
        return 0;
    }, &finds);
    if (status != nullptr) {
        *status = s;
    }
    return finds;
}

TEST(BRRScan, FindsABankAmongRandomBytesExactly)
{
    std::mt19937 random(5);
    Bytes image(50000);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    const Bytes a = Sample(3200, 0.05);
    const Bytes b = Sample(1600, 0.11, 800);
    std::memcpy(&image[12345], a.data(), a.size());
    std::memcpy(&image[12345 + a.size()], b.data(), b.size());
    // Padded to a multiple of 256 after them, a sample whose soft first
    // block is unlike the rest: the bank's place is its start all the same.
    const Bytes c = Sample(1600, 0.11, BRR_NO_LOOP_START, 16);
    const std::size_t bEnd = 12345 + a.size() + b.size();
    const std::size_t cAt = (bEnd + 255) / 256 * 256;
    std::fill(&image[bEnd], &image[cAt], std::uint8_t{0});
    std::memcpy(&image[cAt], c.data(), c.size());
    const std::vector<BRRFound> finds = Scan(image);
    ASSERT_EQ(finds.size(), 3u);
    EXPECT_EQ(finds[0].offset, 12345u);
    EXPECT_EQ(finds[0].blocks, a.size() / 9);
    EXPECT_EQ(finds[1].offset, 12345u + a.size());
    EXPECT_EQ(finds[1].blocks, b.size() / 9);
    EXPECT_EQ(finds[1].loopFlag, 1);
    EXPECT_EQ(finds[1].loopBlock, BRR_NO_LOOP_START);  // only a directory knows
    EXPECT_EQ(finds[2].offset, cAt);
    EXPECT_EQ(finds[2].blocks, c.size() / 9);
    EXPECT_GT(finds[0].score, 0.99);
    // A find of exactly minBlocks blocks is kept, one block short of it is not.
    BRRScanOptions o;
    BRRScanOptionsInit(&o);
    o.minBlocks = b.size() / 9;
    EXPECT_EQ(Scan(image, &o).size(), 3u);
    ++o.minBlocks;
    EXPECT_EQ(Scan(image, &o).size(), 1u);
}

// A sawtooth too harsh to pass alone is found where a padded bank puts it
// after a sure sample; a square wave of identical blocks is found anywhere;
// a table that repeats a 9-byte record, which once passed as a sample, is not.
TEST(BRRScan, TrustsABanksPlacesButNotRepeatedRecords)
{
    const std::uint8_t square[9] = {0xB0, 0x77, 0x77, 0x77, 0x77, 0x99, 0x99, 0x99, 0x99};
    std::mt19937 random(5);
    Bytes image(30000);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    std::vector<std::int16_t> saw(192);
    for (std::size_t i = 0; i < saw.size(); ++i) {
        saw[i] = static_cast<std::int16_t>(static_cast<int>(i % 20) * 1500 - 15000);
    }
    BRREncodeOptions o;
    BRREncodeOptionsInit(&o);
    o.effort = BRR_EFFORT_FAST;
    Bytes harsh(static_cast<std::size_t>(BRR_ENCODED_SIZE(saw.size())));
    ASSERT_EQ(BRREncode(saw.data(), saw.size(), &o, harsh.data(), harsh.size(), nullptr), BRR_OK);
    const Bytes a = Sample(3200, 0.05);
    const std::size_t at = (1000 + a.size() + 255) / 256 * 256;
    std::memcpy(&image[1000], a.data(), a.size());
    std::fill(&image[1000 + a.size()], &image[at], std::uint8_t{0});
    std::memcpy(&image[at], harsh.data(), harsh.size());
    std::memcpy(&image[20000], harsh.data(), harsh.size());
    const std::uint8_t record[9] = {0x4A, 0x20, 0x87, 0x4A, 0x20, 0x87, 0x4A, 0x20, 0x87};
    for (std::size_t k = 0; k < 30; ++k) {
        std::memcpy(&image[25000 + 9 * k], record, 9);
    }
    image[25000 + 9 * 29] |= BRR_END_FLAG;
    for (std::size_t k = 0; k < 30; ++k) {
        std::memcpy(&image[15000 + 9 * k], square, 9);
    }
    image[15000 + 9 * 29] |= BRR_END_FLAG;
    const std::vector<BRRFound> finds = Scan(image);
    ASSERT_EQ(finds.size(), 3u);
    EXPECT_EQ(finds[0].offset, 1000u);
    EXPECT_EQ(finds[1].offset, at);
    EXPECT_EQ(finds[1].blocks, harsh.size() / 9);
    EXPECT_EQ(finds[2].offset, 15000u);
    EXPECT_EQ(finds[2].blocks, 30u);
}

// A directory of exactly the fewest entries that count when it is searched
// for (a repeated entry counts once), a sample it does not name before its
// own, in offset order, and every entry its own find.
TEST(BRRScan, ADirectoryGivesEveryEntryWithItsLoop)
{
    Bytes memory(BRR_MEMORY_IMAGE_SIZE);
    const Bytes a = Sample(800, 0.07, 400);
    const Bytes b = Sample(480, 0.2);
    const Bytes unnamed = Sample(1600, 0.05);
    std::memcpy(&memory[0x3000], a.data(), a.size());
    std::memcpy(&memory[0x3000 + a.size()], b.data(), b.size());
    std::memcpy(&memory[0x800], unnamed.data(), unnamed.size());
    const auto bAt = static_cast<std::uint16_t>(0x3000 + a.size());
    // Entry 1 repeats entry 0; entry 4 names a sample that does not loop,
    // entry 5 one that loops, each with a loop address that is no block of it.
    const std::uint16_t entries[] = {0x3000, 0x3000 + 9 * 25, 0x3000, 0x3000 + 9 * 25, bAt, bAt,
                                     0x3000, 0x3000 + 9 * 10, bAt, 0xFFFF, 0x3000, 0x0123};
    for (std::size_t k = 0; k < 12; ++k) {
        memory[0x2400 + 2 * k] = static_cast<std::uint8_t>(entries[k] & 0xFF);
        memory[0x2400 + 2 * k + 1] = static_cast<std::uint8_t>(entries[k] >> 8);
    }
    struct Expected {
        std::uint64_t offset;
        std::int64_t loopBlock;
        std::int32_t number;
    };
    const Expected expected[] = {{0x3000, 25, 0}, {0x3000, 25, 1}, {0x3000, 10, 3}, {0x3000, BRR_NO_LOOP_START, 5},
                                 {bAt, BRR_NO_LOOP_START, 2}, {bAt, BRR_NO_LOOP_START, 4}};
    for (const std::int32_t directory : {BRR_SCAN_AUTO, 0x2400, BRR_SCAN_NONE}) {
        BRRScanOptions o;
        BRRScanOptionsInit(&o);
        o.directory = directory;
        const std::vector<BRRFound> finds = Scan(memory, &o);
        ASSERT_FALSE(finds.empty());
        EXPECT_EQ(finds[0].offset, 0x800u);
        EXPECT_EQ(finds[0].foundBy, BRR_FOUND_BY_SCAN);
        EXPECT_EQ(finds[0].entryNumber, -1);
        if (directory == BRR_SCAN_NONE) {  // no directory looked up
            EXPECT_TRUE(std::all_of(finds.begin(), finds.end(), [](const BRRFound& f) {
                return f.foundBy == BRR_FOUND_BY_SCAN;
            }));
            continue;
        }
        ASSERT_EQ(finds.size(), 7u) << directory;  // one find per entry
        for (std::size_t i = 0; i < 6; ++i) {
            SCOPED_TRACE(i);
            const BRRFound& f = finds[i + 1];
            EXPECT_EQ(f.offset, expected[i].offset);
            EXPECT_EQ(f.loopBlock, expected[i].loopBlock);
            EXPECT_EQ(f.entryNumber, expected[i].number);
            EXPECT_EQ(f.entry, 0x2400 + 4 * expected[i].number);
            EXPECT_EQ(f.foundBy, BRR_FOUND_BY_DIRECTORY);
            EXPECT_EQ(f.loopFlag, f.offset == 0x3000u ? 1 : 0);
        }
    }
}

TEST(BRRScan, StopsWhenAskedAndReportsProgressToTheEnd)
{
    Bytes image = Sample(1600, 0.05);
    const Bytes more = Sample(1600, 0.09);
    image.insert(image.end(), more.begin(), more.end());
    int calls = 0;
    EXPECT_EQ(BRRScan(image.data(), image.size(), nullptr, [](void* c, const BRRFound*) {
        return ++*static_cast<int*>(c);
    }, &calls), BRR_OK);
    EXPECT_EQ(calls, 1);
    // The last progress call reports the whole size.
    BRRScanOptions told;
    BRRScanOptionsInit(&told);
    std::pair<std::uint64_t, std::uint64_t> last{0, 0};
    told.progress = [](void* c, std::uint64_t done, std::uint64_t total) {
        *static_cast<std::pair<std::uint64_t, std::uint64_t>*>(c) = {done, total};
    };
    EXPECT_EQ(BRRScan(image.data(), image.size(), &told, [](void*, const BRRFound*) { return 0; }, &last), BRR_OK);
    EXPECT_EQ(last, std::make_pair(std::uint64_t{image.size()}, std::uint64_t{image.size()}));
}

TEST(BRRScan, RefusesEveryFieldPastItsRange)
{
    const Bytes image = Sample(1600, 0.05);

    const Bytes memory(BRR_MEMORY_IMAGE_SIZE);
    struct Case {
        const char* what;
        void (*set)(BRRScanOptions&);
        const Bytes* image;
        int status;
    } cases[] = {
        {"min blocks 0", [](BRRScanOptions& o) { o.minBlocks = 0; }, &image, BRR_STATUS_BAD_OPTION},
        {"min blocks 2^32", [](BRRScanOptions& o) { o.minBlocks = std::uint64_t{1} << 32; }, &image, BRR_OK},
        {"min blocks 2^32+1", [](BRRScanOptions& o) { o.minBlocks = (std::uint64_t{1} << 32) + 1; }, &image, BRR_STATUS_BAD_OPTION},
        {"score -0", [](BRRScanOptions& o) { o.minScore = -0.0; }, &image, BRR_OK},
        {"score below 0", [](BRRScanOptions& o) { o.minScore = -1e-9; }, &image, BRR_STATUS_BAD_OPTION},
        {"score past 1", [](BRRScanOptions& o) { o.minScore = 1.0000001; }, &image, BRR_STATUS_BAD_OPTION},
        {"score NaN", [](BRRScanOptions& o) { o.minScore = std::nan(""); }, &image, BRR_STATUS_BAD_OPTION},
        {"memory offset -3", [](BRRScanOptions& o) { o.memoryOffset = -3; }, &image, BRR_STATUS_BAD_OPTION},
        {"memory past the end", [](BRRScanOptions& o) { o.memoryOffset = 1; }, &memory, BRR_STATUS_BAD_OPTION},
        {"memory at 0", [](BRRScanOptions& o) { o.memoryOffset = 0; }, &memory, BRR_OK},
        {"directory without memory", [](BRRScanOptions& o) { o.directory = 0x100; }, &image, BRR_STATUS_BAD_OPTION},
        {"directory off its page", [](BRRScanOptions& o) { o.directory = 0x101; }, &memory, BRR_STATUS_BAD_OPTION},
        {"directory past 0xFF00", [](BRRScanOptions& o) { o.directory = 0x10000; }, &memory, BRR_STATUS_BAD_OPTION},
        {"directory -3", [](BRRScanOptions& o) { o.directory = -3; }, &memory, BRR_STATUS_BAD_OPTION},
        {"reserved", [](BRRScanOptions& o) { o.reserved[7] = 1; }, &image, BRR_STATUS_BAD_OPTION},
        {"reserved0", [](BRRScanOptions& o) { o.reserved0 = 1; }, &image, BRR_STATUS_BAD_OPTION},
    };
    for (const Case& c : cases) {
        BRRScanOptions o;
        BRRScanOptionsInit(&o);
        c.set(o);
        int status = -1;
        const std::vector<BRRFound> finds = Scan(*c.image, &o, &status);
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_TRUE(status == BRR_OK || finds.empty()) << c.what;
    }
    EXPECT_EQ(BRRScan(nullptr, 1, nullptr, [](void*, const BRRFound*) { return 0; }, nullptr), BRR_STATUS_MISSING_PATH);
    EXPECT_EQ(BRRScan(image.data(), image.size(), nullptr, nullptr, nullptr), BRR_STATUS_MISSING_PATH);
    EXPECT_EQ(BRRScan(nullptr, 0, nullptr, [](void*, const BRRFound*) { return 0; }, nullptr), BRR_OK);
}

}  // namespace
