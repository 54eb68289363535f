// BRRInsert and BRRReadDump through the public API: a memory image with a
// directory built here, every refusal leaving it as it was, and a dump's
// registers read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "VornishAudioBRR.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A decaying tone of `blocks` blocks, encoded, with its loop header when it loops.
Bytes Blocks(std::size_t blocks, bool looped)
{
    std::vector<std::int16_t> pcm(blocks * 16);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(8000 * std::sin(0.1 * static_cast<double>(i)) * std::exp(-static_cast<double>(i) / 900));
    }
    BRREncodeOptions o;
    BRREncodeOptionsInit(&o);
    o.effort = BRR_EFFORT_FAST;
    o.loopStart = looped ? static_cast<std::int64_t>(blocks / 2 * 16) : BRR_NO_LOOP_START;
    o.loopHeader = looped ? 1 : 0;
    Bytes out(static_cast<std::size_t>(looped ? BRR_ENCODED_FILE_SIZE(pcm.size()) : BRR_ENCODED_SIZE(pcm.size())));
    EXPECT_EQ(BRREncode(pcm.data(), pcm.size(), &o, out.data(), out.size(), nullptr), BRR_OK);
    return out;
}

void Put(Bytes& m, std::size_t at, std::uint16_t a, std::uint16_t b)
{
    m[at] = static_cast<std::uint8_t>(a & 0xFF);
    m[at + 1] = static_cast<std::uint8_t>(a >> 8);
    m[at + 2] = static_cast<std::uint8_t>(b & 0xFF);
    m[at + 3] = static_cast<std::uint8_t>(b >> 8);
}

// Entry 0 and 2 share a sample at 0x1000 (40 blocks), entry 1 has its own at
// 0x1400 (30 blocks); the directory is at 0x0800.
Bytes Memory()
{
    Bytes m(BRR_MEMORY_IMAGE_SIZE);
    const Bytes a = Blocks(40, true);
    const Bytes b = Blocks(30, false);
    std::memcpy(&m[0x1000], a.data() + 2, a.size() - 2);
    std::memcpy(&m[0x1400], b.data(), b.size());
    Put(m, 0x800, 0x1000, 0x1000 + 9 * 20);
    Put(m, 0x804, 0x1400, 0x1400);
    Put(m, 0x808, 0x1000, 0x1000 + 9 * 20);
    return m;
}

TEST(BRRInsert, PlacesAndRefusesLeavingTheImageAsItWas)
{
    const BRRMemoryRange overDirectory{0x700, 0x1000};
    const BRRMemoryRange clear{0x8000, 0x9000};
    struct Case {
        const char* name;
        int entry;
        Bytes sample;
        std::vector<BRRMemoryRange> free;
        std::int64_t echoStart;
        int status;
        std::int64_t start;  // where it went
    };
    const Case cases[] = {
        {"own place", 1, Blocks(20, true), {}, -1, BRR_OK, 0x1400},
        {"shared place: no room", 0, Blocks(20, true), {}, -1, BRR_STATUS_NO_ROOM, -1},
        {"shared place, a free range", 2, Blocks(20, true), {clear}, -1, BRR_OK, 0x8000},
        {"too long", 1, Blocks(31, true), {}, -1, BRR_STATUS_NO_ROOM, -1},
        {"over the directory", 1, Blocks(31, true), {overDirectory}, -1, BRR_STATUS_OVERLAPS_DIRECTORY, -1},
        {"over another sample", 1, Blocks(31, true), {{0x1100, 0x3000}}, -1, BRR_STATUS_OVERLAPS_SAMPLE, -1},
        {"over the echo buffer", 1, Blocks(31, true), {clear}, 0x8080, BRR_STATUS_OVERLAPS_ECHO, -1},
        {"echo wraps onto the place", 1, Blocks(31, true), {{0x100, 0x400}}, 0xFF00, BRR_STATUS_OVERLAPS_ECHO, -1},
        {"no such entry", 3, Blocks(2, false), {}, -1, BRR_STATUS_NO_SUCH_ENTRY, -1},
        {"no end block", 1, Bytes(18, 0), {}, -1, BRR_STATUS_NO_END_BLOCK, -1},
        {"a loop header past the end", 1, Bytes{27, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {}, -1, BRR_STATUS_BAD_LOOP_HEADER, -1},
        {"not whole blocks", 1, Bytes(10, 1), {}, -1, BRR_STATUS_BAD_SIZE, -1},
        {"empty", 1, Bytes{}, {}, -1, BRR_STATUS_NO_BLOCKS, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes m = Memory();
        const Bytes before = m;
        BRRInsertOptions o;
        BRRInsertOptionsInit(&o);
        o.entry = c.entry;
        o.directory = 0x800;  // two distinct samples: too few to be found by itself
        o.free = c.free.data();
        o.freeCount = static_cast<std::int32_t>(c.free.size());
        o.echoStart = c.echoStart;
        o.echoBytes = 0x400;
        BRRInsertResult r;
        ASSERT_EQ(BRRInsert(m.data(), m.size(), c.sample.data(), c.sample.size(), &o, &r), c.status);
        if (c.status != BRR_OK) {
            EXPECT_EQ(m, before);
            continue;
        }
        const auto start = static_cast<std::size_t>(c.start);
        const std::size_t end = start + c.sample.size() - 2;
        EXPECT_EQ(r.start, c.start);
        EXPECT_EQ(r.loopAddress, c.start + (c.sample[0] | (c.sample[1] << 8)));
        EXPECT_TRUE(std::equal(c.sample.begin() + 2, c.sample.end(), m.begin() + static_cast<std::ptrdiff_t>(c.start)));
        for (std::size_t i = 0; i < m.size(); ++i) {
            const bool ours = (i >= start && i < end) ||
                              (i >= 0x800u + 4u * static_cast<unsigned>(c.entry) && i < 0x804u + 4u * static_cast<unsigned>(c.entry));
            ASSERT_TRUE(ours || m[i] == before[i]) << i;
        }
    }
}

TEST(BRRInsert, RefusesEveryFieldPastItsRange)
{
    Bytes m = Memory();
    const Bytes sample = Blocks(4, false);
    const BRRMemoryRange bad{0x9000, 0x9000};
    const BRRMemoryRange past{0xFF00, 0x10001};
    const auto set = [](auto change) {
        BRRInsertOptions o;
        BRRInsertOptionsInit(&o);
        o.entry = 1;
        change(o);
        return o;
    };
    const BRRInsertOptions cases[] = {
        set([](BRRInsertOptions& o) { o.entry = 256; }),
        set([](BRRInsertOptions& o) { o.entry = -1; }),  // neither
        set([](BRRInsertOptions& o) { o.at = 0; }),      // both
        set([](BRRInsertOptions& o) { o.entry = -1; o.at = BRR_MEMORY_IMAGE_SIZE; }),
        set([&](BRRInsertOptions& o) { o.free = &bad; o.freeCount = 1; }),
        set([&](BRRInsertOptions& o) { o.free = &past; o.freeCount = 1; }),
        set([](BRRInsertOptions& o) { o.freeCount = 1; }),  // no ranges given
        set([](BRRInsertOptions& o) { o.freeCount = BRR_MAX_FREE_RANGES + 1; }),
        set([](BRRInsertOptions& o) { o.echoStart = 0; o.echoBytes = 0; }),
        set([](BRRInsertOptions& o) { o.directory = 0x801; }),
        set([](BRRInsertOptions& o) { o.memoryOffset = 1; }),
        set([](BRRInsertOptions& o) { o.reserved[3] = 1; }),
    };
    for (const BRRInsertOptions& o : cases) {
        EXPECT_EQ(BRRInsert(m.data(), m.size(), sample.data(), sample.size(), &o, nullptr), BRR_STATUS_BAD_OPTION);
    }
    EXPECT_EQ(BRRInsert(nullptr, 9, sample.data(), sample.size(), &cases[0], nullptr), BRR_STATUS_MISSING_PATH);
    EXPECT_EQ(m, Memory());
}

TEST(BRRReadDump, ReadsTheRegistersAndTitles)
{
    Bytes dump(BRR_DUMP_MIN_SIZE);
    BRRDump d;
    EXPECT_EQ(BRRReadDump(dump.data(), dump.size(), &d), BRR_STATUS_NOT_A_DUMP);
    dump[0x21] = dump[0x22] = dump[0x23] = 26;
    std::memcpy(&dump[0x2E], "Title of the song that fills 32!", 32);
    const Bytes memory = Memory();
    std::memcpy(&dump[BRR_DUMP_MEMORY_OFFSET], memory.data(), memory.size());
    std::uint8_t* r = &dump[BRR_DUMP_REGISTERS_OFFSET];
    r[0x5D] = 0x08;
    r[0x6D] = 0xFE;  // 2 x 2048 bytes from 0xFE00: wraps past 0x10000
    r[0x7D] = 0xF2;
    r[0x32] = 0x00;  // voice 3: pitch 0x0800, entry 1, sounding
    r[0x33] = 0x08;
    r[0x34] = 1;
    r[0x38] = 0x40;
    ASSERT_EQ(BRRReadDump(dump.data(), dump.size(), &d), BRR_OK);
    EXPECT_EQ(d.directory, 0x800);
    EXPECT_EQ(d.directoryNamesSamples, 1);
    EXPECT_EQ(d.echoStart, 0xFE00);
    EXPECT_EQ(d.echoBytes, 4096);
    EXPECT_EQ(d.voices[3].rate, 16000);
    EXPECT_EQ(d.voices[3].source, 1);
    EXPECT_EQ(d.voices[3].sounding, 1);
    EXPECT_EQ(d.voices[2].sounding, 0);
    EXPECT_STREQ(d.song, "Title of the song that fills 32!");
    r[0x6C] = 0x20;  // echo writes off
    r[0x5D] = 0x90;  // a stale register: the directory is searched for
    ASSERT_EQ(BRRReadDump(dump.data(), dump.size(), &d), BRR_OK);
    EXPECT_EQ(d.echoStart, -1);
    EXPECT_EQ(d.directoryNamesSamples, 0);
    dump[0x23] = 27;  // no text tag
    ASSERT_EQ(BRRReadDump(dump.data(), dump.size(), &d), BRR_OK);
    EXPECT_EQ(d.hasTitles, 0);
    EXPECT_STREQ(d.song, "");
}

}  // namespace
