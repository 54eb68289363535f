// What a sample file holds and what its WAV will hold, as pure functions of
// its size, a few of its bytes and the options. Reading those bytes is the
// caller's.
#ifndef VORNISH_FORMS_H
#define VORNISH_FORMS_H

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRR.h"

namespace vornish {

// BRR_OK when every field of `options` lies in its documented range; else
// the status of the first that does not, in the struct's order.
int CheckOptions(const BRRConvertOptions& options);

// Where the blocks are, from the size alone.
struct Layout {
    bool headered = false;        // a 2-byte loop header comes first
    std::uint64_t dataOffset = 0;
    std::uint64_t blockCount = 0;
    std::uint32_t extraBytes = 0;  // after the last block, left out
};

// BRR_OK, or BRR_STATUS_BAD_SIZE for a size that no form explains.
int LayOut(std::uint64_t size, const BRRConvertOptions& options, Layout* layout);

// The index of the first of `count` blocks whose end flag is set, or `count`.
std::size_t FindEndFlag(const std::uint8_t* blocks, std::size_t count);

// What was read from the file: the loop header's offset, the first end block
// (blockCount when none) and the header bytes of it and of the last block.
struct Facts {
    std::uint32_t loopHeader = 0;
    std::uint64_t endBlock = 0;
    std::uint8_t endHeader = 0;
    std::uint8_t lastHeader = 0;
};

// Fills `result` from the layout and the facts; returns BRR_OK or the status
// that rules the input out (no blocks, a loop header or loop start outside,
// too large).
int CompletePlan(const Layout& layout, const Facts& facts, const BRRConvertOptions& options,
                 BRRConvertResult* result);

// The first block of every later pass: the loop start, or 0.
inline std::uint64_t RepeatFrom(const BRRConvertResult& plan)
{
    return plan.loopStart >= 0 ? static_cast<std::uint64_t>(plan.loopStart) : 0;
}

// Whether `plan` is one that CompletePlan could have made for `options`.
bool IsPlanFor(const BRRConvertResult& plan, const BRRConvertOptions& options);

}  // namespace vornish

#endif
