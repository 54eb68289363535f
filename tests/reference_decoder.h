// The plain decoder the tests and the fuzzer hold the library's fast loop to:
// one code at a time, written straight from the format description with
// explicit branches, and nothing else from the library.
#ifndef VORNISH_REFERENCE_DECODER_H
#define VORNISH_REFERENCE_DECODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

// Prediction from the two previous values; only the low 8 bits of `filter`
// count, and anything but 1, 2 or 3 predicts 0. The hardware's filter 1 is
// p1 + ((-p1) >> 4), the library's p1 - (p1 >> 4).
std::int32_t BRRPredict(std::uint32_t filter, std::int32_t last, std::int32_t older, bool hardware = false);

struct Decoder {
    // The playback hardware's rules instead of the library's: filter 1 as
    // above, and ranges 13..15 as range 12 on the code shifted right by 3.
    bool hardware = false;
    std::int32_t last = 0;
    std::int32_t older = 0;
    // How often the clamp fired, per filter (0..3), above and below.
    std::size_t clampedHigh[4] = {};
    std::size_t clampedLow[4] = {};

    // Decodes one code (0..15) and returns its sample, 2 * last.
    std::int16_t DecodeCode(int code, int range, int filter);
    // Decodes every whole 9-byte block of `blocks` in turn.
    std::vector<std::int16_t> DecodeBlocks(const std::uint8_t* blocks, std::size_t size);
    std::vector<std::int16_t> DecodeBlocks(const std::vector<std::uint8_t>& blocks)
    {
        return DecodeBlocks(blocks.data(), blocks.size());
    }
};

}  // namespace reference

#endif
