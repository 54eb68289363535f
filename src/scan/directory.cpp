// A memory image's sample directory: a page (a multiple of 256 bytes) of up
// to 256 entries,
//
//   +0  start  16-bit little-endian address of the sample's first block
//   +2  loop   16-bit little-endian address of its loop's first block
//
// An entry is plausible when a chain starting at `start` ends (in the end
// flag) inside the image and `loop` is one of its blocks. Random bytes make
// one such entry in about 2^16 / (9 x chain length); the page with the most
// distinct plausible entries, if clearly more than that, is the directory.
#include <algorithm>
#include <memory>
#include <utility>

#include "scan/chain.h"
#include "scan/evidence.h"

namespace vornish {
namespace scan {
namespace {

constexpr std::uint32_t kMemory = BRR_MEMORY_IMAGE_SIZE;
constexpr std::uint32_t kEntries = 256;
constexpr std::uint32_t kPage = 256;
// A directory found by itself names at least this many distinct samples.
constexpr int kFewestEntries = 3;

// Tables of a type of this file's own, so that no container instantiation
// of the standard library's leaves the shared library.
struct DirectoryTables {
    std::uint16_t blocks[kMemory];  // chain length from each address, 0: no end inside
    float scores[kMemory];          // start -> its chain's score, -1 while not judged
    std::uint32_t sum[kMemory / 4 + 1];
};

struct Image {
    const std::uint8_t* memory;
    std::unique_ptr<DirectoryTables> tables;
    std::uint16_t* blocks;
    float* scores;
};

void MeasureChains(Image& image)
{
    std::fill(image.blocks, image.blocks + kMemory, std::uint16_t{0});
    std::fill(image.scores, image.scores + kMemory, -1.0f);
    for (std::uint32_t a = kMemory - BRR_BLOCK_SIZE + 1; a-- > 0;) {
        if ((image.memory[a] & BRR_END_FLAG) != 0) {
            image.blocks[a] = 1;
        } else if (a + 2 * BRR_BLOCK_SIZE <= kMemory && image.blocks[a + BRR_BLOCK_SIZE] != 0) {
            image.blocks[a] = static_cast<std::uint16_t>(image.blocks[a + BRR_BLOCK_SIZE] + 1);
        }
    }
}

std::uint32_t Word(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }

double ChainEvidence(const Image& image, std::uint32_t start)
{
    const std::uint64_t end = start + (image.blocks[start] - 1u) * std::uint64_t{BRR_BLOCK_SIZE};
    return JudgeChain(image.memory, start, end, false, true).evidence;
}

// Every block of the chain at `start` one an encoder could make.
bool Possible(const Image& image, std::uint32_t start)
{
    bool haveBefore = false;
    std::uint8_t before = 0;
    for (std::uint32_t k = 0; k < image.blocks[start]; ++k) {
        const std::uint8_t* block = image.memory + start + std::size_t{k} * BRR_BLOCK_SIZE;
        if (IsSilent(block) && (block[0] & BRR_END_FLAG) == 0) {
            continue;
        }
        if (IsImpossible(block[0], before, !haveBefore) || IsFill(block)) {
            return false;
        }
        haveBefore = true;
        before = block[0];
    }
    return true;
}

// An entry that names a sample. One whose loop is its start is as common in
// fill as in a directory: to find the directory its chain must look like
// audio; once the directory is found, only be blocks an encoder could make
// (but a zeroed entry, as unused ones are, must still look like audio).
bool Plausible(Image& image, std::uint32_t start, std::uint32_t loop, bool finding)
{
    if (image.blocks[start] == 0 || loop < start || (loop - start) % BRR_BLOCK_SIZE != 0 ||
        (loop - start) / BRR_BLOCK_SIZE >= image.blocks[start]) {
        return false;
    }
    if (loop != start) {
        return true;
    }
    // A zeroed entry is how a directory leaves one unused.
    if (!finding && start != 0) {
        return Possible(image, start);
    }
    if (image.scores[start] < 0.0f) {
        image.scores[start] = static_cast<float>(ScoreOf(ChainEvidence(image, start)));
    }
    return image.scores[start] >= static_cast<float>(BRR_DEFAULT_MIN_SCORE);
}

struct Entry {
    std::uint32_t address;
    std::uint32_t start;
    std::uint32_t loop;
};

// The plausible entries of a page, each (start, loop) once.
std::vector<Entry> Entries(Image& image, std::uint32_t page, bool finding)
{
    std::vector<Entry> entries;
    for (std::uint32_t k = 0; k < kEntries && page + 4 * k + 4 <= kMemory; ++k) {
        const std::uint8_t* p = image.memory + page + std::size_t{4} * k;
        const Entry e{page + 4 * k, Word(p), Word(p + 2)};
        const bool seen = std::any_of(entries.begin(), entries.end(), [&](const Entry& x) {
            return x.start == e.start && x.loop == e.loop;
        });
        if (!seen && Plausible(image, e.start, e.loop, finding)) {
            entries.push_back(e);
        }
    }
    return entries;
}

// The page with the most plausible entries; of equals, the one whose first
// entry comes soonest (a page just before the directory sees it shifted).
// Every 4-byte slot is judged once, and each page counts its 256 slots from
// running sums; an entry equal to the one before it (fill) counts once.
std::uint32_t FindPage(Image& image, bool& found)
{
    constexpr std::uint32_t kSlots = kMemory / 4;
    std::uint32_t* sum = image.tables->sum;  // plausible slots before each
    sum[0] = 0;
    for (std::uint32_t i = 0; i < kSlots; ++i) {
        const std::uint8_t* p = image.memory + std::size_t{4} * i;
        const bool repeat = i > 0 && std::equal(p, p + 4, p - 4);
        sum[i + 1] = sum[i] + (!repeat && Plausible(image, Word(p), Word(p + 2), true) ? 1u : 0u);
    }
    std::uint32_t bestCount = 0;
    std::uint32_t bestFirst = kEntries;
    std::uint32_t best = 0;
    for (std::uint32_t page = 0; page < kMemory; page += kPage) {
        const std::uint32_t from = page / 4;
        const std::uint32_t to = std::min(kSlots, from + kEntries);
        const std::uint32_t count = sum[to] - sum[from];
        std::uint32_t first = 0;
        while (first < to - from && sum[from + first + 1] == sum[from]) {
            ++first;
        }
        if (count > bestCount || (count == bestCount && first < bestFirst)) {
            bestCount = count;
            bestFirst = first;
            best = page;
        }
    }
    found = bestCount >= kFewestEntries;
    return best;
}

}  // namespace

std::vector<BRRFound> DirectoryFinds(const std::uint8_t* memory, std::uint64_t memoryOffset, std::int32_t directory)
{
    Image image{memory, std::unique_ptr<DirectoryTables>(new DirectoryTables), nullptr, nullptr};
    image.blocks = image.tables->blocks;
    image.scores = image.tables->scores;
    MeasureChains(image);
    bool found = directory >= 0;
    const std::uint32_t page = found ? static_cast<std::uint32_t>(directory) : FindPage(image, found);
    std::vector<BRRFound> finds;
    if (!found) {
        return finds;
    }
    for (const Entry& e : Entries(image, page, false)) {
        const std::uint32_t blocks = image.blocks[e.start];
        const std::uint8_t endHeader = memory[e.start + (blocks - 1) * BRR_BLOCK_SIZE];
        const bool loops = (endHeader & BRR_LOOP_FLAG) != 0;
        const std::int64_t loopBlock = loops ? std::int64_t{(e.loop - e.start) / BRR_BLOCK_SIZE} : BRR_NO_LOOP_START;
        const bool same = std::any_of(finds.begin(), finds.end(), [&](const BRRFound& f) {
            return f.offset == memoryOffset + e.start && f.loopBlock == loopBlock;
        });
        if (same) {
            continue;  // entries whose loops differ only where the sample does not loop
        }
        BRRFound f{};
        f.offset = memoryOffset + e.start;
        f.blocks = blocks;
        f.loopBlock = loopBlock;
        f.score = ScoreOf(ChainEvidence(image, e.start));
        f.foundBy = BRR_FOUND_BY_DIRECTORY;
        f.entry = static_cast<std::int32_t>(e.address);
        f.loopFlag = loops ? 1 : 0;
        finds.push_back(f);
    }
    std::stable_sort(finds.begin(), finds.end(),
                     [](const BRRFound& a, const BRRFound& b) { return a.offset < b.offset; });
    return finds;
}

}  // namespace scan
}  // namespace vornish
