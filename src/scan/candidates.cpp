// The scan's first look: which end blocks have enough possible blocks
// before them, eight positions per step (random bytes make half of all
// positions end blocks, so this must cost little), then each chain's start.
#include "scan/candidates.h"

#include <cstring>

#include "VornishAudioBRR.h"
#include "scan/evidence.h"

namespace vornish {
namespace scan {
namespace {

constexpr std::uint64_t kLanes = 0x0101010101010101u;

// Eight bytes, the first in the lowest lane, whatever the host's byte order.
std::uint64_t Load(const std::uint8_t* p)
{
    std::uint64_t w = 0;
    for (int i = 7; i >= 0; --i) {
        w = (w << 8) | p[i];
    }
    return w;
}

// Byte lanes of 0 or 1 to bits: lane k to bit k (the multiplier's terms
// land each lane in the top byte, at distinct bits, without carries).
std::uint32_t LaneBits(std::uint64_t lanes)
{
    return static_cast<std::uint32_t>((lanes * 0x0102040810204080u) >> 56);
}

// Bit 0 of each byte lane: the header may carry on a chain (no end flag;
// a range of 0..12, or filter 0, as a silent block may have any range).
std::uint64_t Open(std::uint64_t w)
{
    const std::uint64_t bad = (w >> 7) & (w >> 6) & ((w >> 5) | (w >> 4)) & kLanes;  // range 13..15
    const std::uint64_t filter0 = ~((w >> 2) | (w >> 3)) & kLanes;
    return ~w & (~bad | filter0) & kLanes;
}

}  // namespace

std::uint64_t EndMarks(const std::uint8_t* data, std::uint64_t at, int blocks)
{
    std::uint64_t marks = Load(data + at) & kLanes;
    std::uint64_t laterLoop = 0;
    std::uint64_t laterMaySkip = kLanes;  // filter 0: perhaps a silent block, which the loop check skips
    for (int k = 1; k < blocks && marks != 0; ++k) {
        const std::uint64_t w = Load(data + at - BRR_BLOCK_SIZE * static_cast<std::uint64_t>(k));
        const std::uint64_t loop = (w >> 1) & kLanes;
        const std::uint64_t maySkip = ~((w >> 2) | (w >> 3)) & kLanes;
        // Two blocks in a row, neither silent nor the end block: one loop flag.
        marks &= Open(w) & (~(loop ^ laterLoop) | maySkip | laterMaySkip);
        laterLoop = loop;
        laterMaySkip = maySkip;
    }
    return marks;
}

#if defined(__GNUC__) || defined(__clang__)

// The same for 16 positions, in the compiler's 16-byte vectors (SSE2, NEON,
// or plain code where there are none).
std::uint32_t EndMarks16(const std::uint8_t* data, std::uint64_t at, int blocks)
{
    // Lanes of 0xFF (true) or 0 (false): byte compares, no byte shifts.
    typedef std::uint8_t Vector __attribute__((vector_size(16)));
    const auto load = [&](std::uint64_t from) {
        Vector v;
        std::memcpy(&v, data + from, sizeof v);
        return v;
    };
    const Vector zero = {};
    const Vector end = static_cast<Vector>((load(at) & BRR_END_FLAG) != zero);
    Vector m = end;
    Vector laterLoop = zero;
    Vector laterMaySkip = ~zero;
    for (int k = 1; k < blocks; ++k) {
        const Vector w = load(at - BRR_BLOCK_SIZE * static_cast<std::uint64_t>(k));
        const Vector loop = w & BRR_LOOP_FLAG;
        const Vector maySkip = static_cast<Vector>((w & 0x0C) == zero);
        const Vector bad = static_cast<Vector>(w >= 0xD0);  // range 13..15
        const Vector open = static_cast<Vector>((w & BRR_END_FLAG) == zero) & (~bad | maySkip);
        m &= open & (static_cast<Vector>(loop == laterLoop) | maySkip | laterMaySkip);
        laterLoop = loop;
        laterMaySkip = maySkip;
    }
    m &= 1;
    std::uint64_t words[2];
    std::memcpy(words, &m, sizeof words);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    words[0] = __builtin_bswap64(words[0]);  // lane 0 in the lowest byte
    words[1] = __builtin_bswap64(words[1]);
#endif
    return LaneBits(words[0]) | LaneBits(words[1]) << 8;
}

#else

std::uint32_t EndMarks16(const std::uint8_t* data, std::uint64_t at, int blocks)
{
    return LaneBits(EndMarks(data, at, blocks)) | LaneBits(EndMarks(data, at + 8, blocks)) << 8;
}

#endif

Candidate CandidateAt(const std::uint8_t* data, std::uint64_t end, std::uint64_t foundEnd)
{
    std::uint64_t next = end;  // the earliest block seen that counts (is not silent)
    std::uint64_t at = end;
    while (at >= BRR_BLOCK_SIZE) {
        const std::uint64_t before = at - BRR_BLOCK_SIZE;
        const std::uint8_t* block = data + before;
        if ((block[0] & BRR_END_FLAG) != 0) {
            const bool afterSample = before == foundEnd;
            return Candidate{at, afterSample ? at : next, afterSample};
        }
        at = before;
        if (IsSilent(block)) {
            continue;
        }
        // A block no encoder makes: nothing before it belongs to the candidate.
        if ((block[0] >> 4) > kLargestRange ||
            (next != end && ((block[0] ^ data[next]) & BRR_LOOP_FLAG) != 0)) {
            return Candidate{before + BRR_BLOCK_SIZE, next, false};
        }
        next = before;
    }
    return Candidate{0, next, false};
}

}  // namespace scan
}  // namespace vornish
