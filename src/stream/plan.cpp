// Planning a conversion: reads what the sample forms need (the loop header,
// block headers up to the end block, the last block's header) and lets the
// pure functions of forms/ decide.
#include <cstdlib>

#include "forms/forms.h"
#include "stream/source.h"

namespace vornish {
namespace {

// Fills the facts of the blocks (the first end block, the last block's
// header) from the input; false on a read failure.
bool ReadBlockFacts(const Source& source, const Layout& layout, std::size_t pieceBlocks,
                    std::uint8_t* scratch, Facts* facts)
{
    facts->endBlock = layout.blockCount;
    for (std::uint64_t first = 0; first < layout.blockCount; first += pieceBlocks) {
        const std::uint64_t left = layout.blockCount - first;
        const std::size_t n = left < pieceBlocks ? static_cast<std::size_t>(left) : pieceBlocks;
        const std::uint8_t* blocks =
            SourceBytes(source, layout.dataOffset + first * BRR_BLOCK_SIZE, n * BRR_BLOCK_SIZE, scratch);
        if (blocks == nullptr) {
            return false;
        }
        const std::size_t end = FindEndFlag(blocks, n);
        if (end < n) {
            facts->endBlock = first + end;
            facts->endHeader = blocks[end * BRR_BLOCK_SIZE];
            break;
        }
    }
    const std::uint8_t* last = SourceBytes(
        source, layout.dataOffset + (layout.blockCount - 1u) * BRR_BLOCK_SIZE, 1, scratch);
    if (last == nullptr) {
        return false;
    }
    facts->lastHeader = *last;
    return true;
}

}  // namespace

int PlanSource(const Source& source, std::uint64_t size, const BRRConvertOptions& options,
               BRRConvertResult* result)
{
    *result = BRRConvertResult{};
    result->loopStart = BRR_NO_LOOP_START;
    if (const int status = CheckOptions(options); status != BRR_OK) {
        return status;
    }
    Layout layout;
    if (LayOut(size, options, &layout) != BRR_OK) {
        return BRR_STATUS_BAD_SIZE;
    }
    Facts facts;
    if (layout.headered) {
        std::uint8_t header[BRR_LOOP_HEADER_SIZE];
        const std::uint8_t* bytes = SourceBytes(source, 0, sizeof header, header);
        if (bytes == nullptr) {
            return BRR_STATUS_READ_ERROR;
        }
        facts.loopHeader = bytes[0] | static_cast<std::uint32_t>(bytes[1]) << 8u;
    }
    if (options.sampleForms != 0 && layout.blockCount > 0) {
        const std::size_t pieceBlocks = PieceBlocks(options);
        std::uint8_t* scratch = nullptr;
        if (source.memory == nullptr &&
            (scratch = static_cast<std::uint8_t*>(std::malloc(pieceBlocks * BRR_BLOCK_SIZE))) == nullptr) {
            return BRR_STATUS_NO_MEMORY;
        }
        const bool read = ReadBlockFacts(source, layout, pieceBlocks, scratch, &facts);
        std::free(scratch);
        if (!read) {
            return BRR_STATUS_READ_ERROR;
        }
    }
    return CompletePlan(layout, facts, options, result);
}

}  // namespace vornish
