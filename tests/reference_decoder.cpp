#include "reference_decoder.h"

namespace reference {

std::int32_t BRRPredict(std::uint32_t filter, std::int32_t last, std::int32_t older, bool hardware)
{
    switch (filter & 0xFFu) {
    case 1: return hardware ? last + ((-last) >> 4) : last - (last >> 4);
    case 2: return 2 * last - older + ((-3 * last) >> 5) + (older >> 4);
    case 3: return 2 * last - older + ((-13 * last) >> 6) + ((3 * older) >> 4);
    default: return 0;
    }
}

std::int16_t Decoder::DecodeCode(int code, int range, int filter)
{
    const int s = code >= 8 ? code - 16 : code;
    int a;
    if (range <= 12) {
        a = (s * (1 << range)) >> 1;
    } else if (hardware) {
        a = ((s >> 3) * 4096) >> 1;  // range 12 on the code shifted right by 3
    } else {
        a = code >= 8 ? -2048 : 2048;
    }
    int x = a + BRRPredict(static_cast<std::uint32_t>(filter), last, older, hardware);
    if (x > 32767) {
        x = 32767;
        ++clampedHigh[filter];
    } else if (x < -32768) {
        x = -32768;
        ++clampedLow[filter];
    }
    if (x > 16383) {
        x -= 32768;
    } else if (x < -16384) {
        x += 32768;
    }
    older = last;
    last = x;
    return static_cast<std::int16_t>(2 * x);
}

std::vector<std::int16_t> Decoder::DecodeBlocks(const std::uint8_t* blocks, std::size_t size)
{
    std::vector<std::int16_t> out;
    for (std::size_t b = 0; b + 9 <= size; b += 9) {
        const int range = blocks[b] >> 4;
        const int filter = (blocks[b] >> 2) & 3;
        for (std::size_t k = 1; k <= 8; ++k) {
            out.push_back(DecodeCode(blocks[b + k] >> 4, range, filter));
            out.push_back(DecodeCode(blocks[b + k] & 15, range, filter));
        }
    }
    return out;
}

}  // namespace reference
