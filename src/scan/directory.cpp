// A memory image's sample directory found, chosen and read: the page whose
// entries name the most samples (directory_entry.h judges each entry), or a
// dump's register where its entries name samples as a directory's do.
#include "scan/directory.h"

#include <algorithm>
#include <vector>

#include "scan/chain.h"
#include "scan/directory_entry.h"

namespace vornish {
namespace scan {
namespace {

using Image = MemoryChains;
using entry::AtBoundary;
using entry::LoopInside;
using entry::NamesSample;
using entry::Plausible;
using entry::Score;
using entry::Word;

constexpr std::uint32_t kPage = 256;
// A directory found by itself names at least this many distinct samples.
constexpr int kFewestEntries = 3;

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

// The distinct starts that the page's entries name (by NamesSample) where a
// bank puts samples, whose loop is one of their blocks or whose chains look
// like audio.
int AudioCount(Image& image, std::uint32_t page)
{
    std::uint32_t seen[kEntries];
    int count = 0;
    for (std::uint32_t k = 0; k < kEntries && page + 4 * k + 4 <= kMemory; ++k) {
        const std::uint32_t start = Word(image.memory + page + std::size_t{4} * k);
        const std::uint32_t loop = Word(image.memory + page + std::size_t{4} * k + 2);
        if (std::find(seen, seen + count, start) == seen + count && AtBoundary(image, start) &&
            NamesSample(image, start, loop, false) &&
            ((loop != start && LoopInside(image, start, loop)) || Score(image, start) >= BRR_DEFAULT_MIN_SCORE)) {
            seen[count++] = start;
        }
    }
    return count;
}

}  // namespace

namespace {

// A start that follows an accepted sample as a bank puts one: right after
// its end block or past a few zeros, or at the next multiple of 16; or that an accepted entry
// names itself. Where it is, not what its blocks are, says it is a sample.
bool Follows(const MemoryChains& chains, const std::vector<DirectoryEntry>& accepted, std::uint32_t start)
{
    constexpr std::uint32_t kPad = 16;
    return std::any_of(accepted.begin(), accepted.end(), [&](const DirectoryEntry& e) {
        const std::uint32_t end = e.start + e.blocks * BRR_BLOCK_SIZE;
        const bool zeros = start >= end && start - end < kPad &&
                           std::all_of(chains.memory + end, chains.memory + start, [](std::uint8_t b) { return b == 0; });
        return start == e.start || zeros || (start > end && start == RoundUp(end, kPad));
    });
}

DirectoryEntry MakeEntry(const MemoryChains& chains, std::uint32_t page, std::uint32_t k)
{
    const std::uint8_t* p = chains.memory + page + std::size_t{4} * k;
    const std::uint32_t start = Word(p);
    const std::uint32_t loop = Word(p + 2);
    const std::uint32_t blocks = chains.tables->blocks[start];
    const bool loops = blocks > 0 && (chains.memory[start + (blocks - 1) * BRR_BLOCK_SIZE] & BRR_LOOP_FLAG) != 0;
    return DirectoryEntry{k, page + 4 * k, start, loop, blocks, loops, blocks > 0 && LoopInside(chains, start, loop)};
}

}  // namespace

std::vector<DirectoryEntry> ReadDirectory(MemoryChains& chains, std::uint32_t page)
{
    const std::uint32_t slots = std::min(kEntries, (kMemory - page) / 4);
    DirectoryEntry slot[kEntries];
    bool taken[kEntries] = {};
    std::vector<DirectoryEntry> accepted;
    std::uint32_t count = 0;  // through the last entry that names a sample on its own
    for (std::uint32_t k = 0; k < slots; ++k) {
        slot[k] = MakeEntry(chains, page, k);
        if (NamesSample(chains, slot[k].start, slot[k].loop, false)) {
            taken[k] = true;
            accepted.push_back(slot[k]);
            count = k + 1;
        }
    }
    // Then those in a run of entries that name samples or that follow an
    // accepted sample, until none is added.
    for (bool added = true; added;) {
        added = false;
        for (std::uint32_t k = 0; k < slots; ++k) {
            const DirectoryEntry& e = slot[k];
            const bool inRun = k < count && (k == 0 || taken[k - 1]);
            if (!taken[k] && ((e.blocks > 0 && Follows(chains, accepted, e.start)) || NamesSample(chains, e.start, e.loop, inRun))) {
                taken[k] = added = true;
                accepted.push_back(e);
            }
        }
    }
    std::vector<DirectoryEntry> entries;
    for (std::uint32_t k = 0; k < slots; ++k) {
        if (taken[k]) {
            entries.push_back(slot[k]);
        }
    }
    return entries;
}

std::int32_t ChooseDirectory(MemoryChains& chains, std::int32_t requested, std::int32_t registerPage)
{
    if (requested >= 0) {
        return requested;
    }
    bool found = false;
    const std::uint32_t searched = FindPage(chains, found);
    // 0 is what the register holds before a program sets it.
    if (registerPage > 0) {
        // A stale register may name a page where chance makes a few entries:
        // its first entry (programs number from 0) must name audio where a
        // bank puts samples, or a few entries must, and a page whose entries
        // name clearly more audio wins over it.
        const auto page = static_cast<std::uint32_t>(registerPage);
        const int audio = AudioCount(chains, page);
        const std::uint32_t start = Word(chains.memory + page);
        const bool first = AtBoundary(chains, start) && NamesSample(chains, start, Word(chains.memory + page + 2), false) &&
                           Score(chains, start) >= BRR_DEFAULT_MIN_SCORE;
        if (audio > 0 && (first || audio >= kFewestEntries || !found) && (!found || 2 * audio >= AudioCount(chains, searched))) {
            return registerPage;
        }
    }
    return found ? static_cast<std::int32_t>(searched) : -1;
}

std::vector<BRRFound> DirectoryFinds(MemoryChains& chains, std::uint64_t memoryOffset, std::uint32_t page)
{
    std::vector<BRRFound> finds;
    for (const DirectoryEntry& e : ReadDirectory(chains, page)) {
        BRRFound f{};
        f.offset = memoryOffset + e.start;
        f.blocks = e.blocks;
        f.loopBlock = e.loops && e.loopValid ? std::int64_t{(e.loop - e.start) / BRR_BLOCK_SIZE} : BRR_NO_LOOP_START;
        f.score = Score(chains, e.start);
        f.foundBy = BRR_FOUND_BY_DIRECTORY;
        f.entry = static_cast<std::int32_t>(e.address);
        f.loopFlag = e.loops ? 1 : 0;
        f.entryNumber = static_cast<std::int32_t>(e.number);
        finds.push_back(f);
    }
    std::stable_sort(finds.begin(), finds.end(),
                     [](const BRRFound& a, const BRRFound& b) { return a.offset < b.offset; });
    return finds;
}

}  // namespace scan
}  // namespace vornish
