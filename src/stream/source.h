// The input of a conversion: bytes held in memory, read in place, or a read
// function filling a scratch buffer.
#ifndef VORNISH_SOURCE_H
#define VORNISH_SOURCE_H

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRR.h"

namespace vornish {

// Blocks per working piece: 144 KiB read, 512 KiB of samples written at a time.
constexpr std::size_t kDefaultPieceBlocks = 16384;

struct Source {
    const std::uint8_t* memory = nullptr;  // the whole input, when it is in memory
    std::uint64_t memorySize = 0;
    BRRReadFunction read = nullptr;
    void* context = nullptr;
};

// Bytes [offset, offset + size) of the input: in place from memory, else read
// into `scratch`. nullptr when they cannot be had.
inline const std::uint8_t* SourceBytes(const Source& source, std::uint64_t offset,
                                       std::size_t size, std::uint8_t* scratch)
{
    if (source.memory != nullptr || source.read == nullptr) {
        const bool inside = offset <= source.memorySize && size <= source.memorySize - offset;
        return inside && source.memory != nullptr ? source.memory + offset : nullptr;
    }
    return source.read(source.context, offset, scratch, size) == 0 ? scratch : nullptr;
}

inline std::size_t PieceBlocks(const BRRConvertOptions& options)
{
    return options.pieceBlocks != 0 ? options.pieceBlocks : kDefaultPieceBlocks;
}

// Plans the conversion of a `size`-byte input (BRRPlan on a Source).
int PlanSource(const Source& source, std::uint64_t size, const BRRConvertOptions& options,
               BRRConvertResult* result);

}  // namespace vornish

#endif
