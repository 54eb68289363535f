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
// Once it is known, an entry whose loop address is no block of its chain
// names a sample too, when its blocks are an encoder's (NamesSample).
#include "scan/directory_entry.h"

#include <algorithm>
#include <iterator>

#include "scan/chain.h"
#include "scan/evidence.h"

namespace vornish {
namespace scan {

MemoryChains::MemoryChains(const std::uint8_t* m) : memory(m), tables(new DirectoryTables)
{
    std::uint16_t* blocks = tables->blocks;
    std::fill(blocks, blocks + kMemory, std::uint16_t{0});
    std::fill(std::begin(tables->judged), std::end(tables->judged), std::uint64_t{0});
    for (std::uint32_t a = kMemory - BRR_BLOCK_SIZE + 1; a-- > 0;) {
        if ((memory[a] & BRR_END_FLAG) != 0) {
            blocks[a] = 1;
        } else if (a + 2 * BRR_BLOCK_SIZE <= kMemory && blocks[a + BRR_BLOCK_SIZE] != 0) {
            blocks[a] = static_cast<std::uint16_t>(blocks[a + BRR_BLOCK_SIZE] + 1);
        }
    }
}

MemoryChains::~MemoryChains() = default;

std::uint32_t MemoryChains::Blocks(std::uint32_t start) const { return start < kMemory ? tables->blocks[start] : 0; }

namespace entry {
namespace {

using Image = MemoryChains;

double ChainEvidence(const Image& image, std::uint32_t start)
{
    const std::uint64_t end = start + (image.tables->blocks[start] - 1u) * std::uint64_t{BRR_BLOCK_SIZE};
    return JudgeChain(image.memory, start, end, false, true).evidence;
}

// Every block of the chain at `start` one an encoder could make.
bool Possible(const Image& image, std::uint32_t start)
{
    bool haveBefore = false;
    std::uint8_t before = 0;
    for (std::uint32_t k = 0; k < image.tables->blocks[start]; ++k) {
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

}  // namespace

float Score(Image& image, std::uint32_t start)
{
    std::uint64_t& word = image.tables->judged[start / 64];
    const std::uint64_t bit = std::uint64_t{1} << (start % 64);
    if ((word & bit) == 0) {
        image.tables->scores[start] = static_cast<float>(ScoreOf(ChainEvidence(image, start)));
        word |= bit;
    }
    return image.tables->scores[start];
}

bool LoopInside(const Image& image, std::uint32_t start, std::uint32_t loop)
{
    return loop >= start && (loop - start) % BRR_BLOCK_SIZE == 0 &&
           (loop - start) / BRR_BLOCK_SIZE < image.tables->blocks[start];
}

// An entry that names a sample. One whose loop is its start is as common in
// fill as in a directory: to find the directory its chain must look like
// audio; once the directory is found, only be blocks an encoder could make
// (but a zeroed entry, as unused ones are, must still look like audio).
// Where a sample starts in a bank: right after another's end block, past
// zero padding, or at the bottom of memory; a start inside a sample has a
// block of the same sample before it.
// A search among all pages takes zeros before a start only where the
// sample does not begin with zeros itself, as fill's chains do.
bool AtBoundary(const Image& image, std::uint32_t start, bool searching)
{
    return start < BRR_BLOCK_SIZE || (image.memory[start - BRR_BLOCK_SIZE] & BRR_END_FLAG) != 0 ||
           (image.memory[start - 1] == 0 && (!searching || image.memory[start] != 0));
}

namespace {

bool EndsWithoutLoop(const Image& image, std::uint32_t start)
{
    const std::uint32_t blocks = image.tables->blocks[start];
    return blocks > 0 && (image.memory[start + (blocks - 1) * BRR_BLOCK_SIZE] & BRR_LOOP_FLAG) == 0;
}

}  // namespace

bool Plausible(Image& image, std::uint32_t start, std::uint32_t loop, bool finding)
{
    if (image.tables->blocks[start] == 0) {
        return false;
    }
    if (!LoopInside(image, start, loop)) {
        // Players never read the loop address of a sample that does not loop.
        // A search counts such an entry only for a chain long enough to be
        // judged (chance makes many short ones).
        constexpr std::uint32_t kFewestBlocks = 4;
        return finding && image.tables->blocks[start] >= kFewestBlocks && AtBoundary(image, start, true) &&
               EndsWithoutLoop(image, start) && Possible(image, start) && Score(image, start) >= BRR_DEFAULT_MIN_SCORE;
    }
    if (loop != start) {
        return true;
    }
    // A zeroed entry is how a directory leaves one unused.
    if (!finding && start != 0) {
        return Possible(image, start);
    }
    return Score(image, start) >= BRR_DEFAULT_MIN_SCORE;
}

// Once the directory is known, an entry whose loop address is no block of
// its chain (players never read it where the sample does not loop) names a
// sample when its blocks are ones an encoder makes: among the entries that
// name one by their loop, or after them when its chain looks like audio.
bool NamesSample(Image& image, std::uint32_t start, std::uint32_t loop, bool amongOthers)
{
    if (LoopInside(image, start, loop)) {
        return Plausible(image, start, loop, false);
    }
    return image.tables->blocks[start] != 0 && Possible(image, start) &&
           (amongOthers || Score(image, start) >= BRR_DEFAULT_MIN_SCORE);
}

}  // namespace entry
}  // namespace scan
}  // namespace vornish
