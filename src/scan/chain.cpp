// One chain judged by what its headers and its decoding say (evidence.h).
// Trimmed, its start moves past every block no encoder makes and past a
// prefix whose evidence is clearly worse than starting afresh: leading bytes
// that only happen to run on into a sample are left out.
#include "scan/chain.h"

#include <algorithm>
#include <limits>

#include "brr/arithmetic.h"
#include "scan/candidates.h"
#include "scan/evidence.h"

namespace vornish {
namespace scan {
namespace {

constexpr float kNone = -std::numeric_limits<float>::infinity();
// How much better a fresh start must be than the prefix before it; one
// with filter 0, as an encoder's first block has, need only be as good.
float Margin(std::uint8_t header)
{
    constexpr float kTrimMargin = 2.0f;
    return (header & 0x0C) != 0 ? kTrimMargin : 0.0f;
}
// What a quiet block costs a prefix, when trimming: a long quiet stretch of
// chance bytes before a sample is left out (and its own quiet beginning is
// found again by AlignStart). The evidence reported does not count it.
constexpr float kQuietCost = 0.25f;
// What an impossible block costs a chain judged whole.
constexpr float kImpossible = -8.0f;
constexpr std::uint64_t kJudgedBlocks = 64;

// A chain being judged, block by block: the best candidate start so far
// and its evidence.
struct Judging {
    bool trim;
    bool keepSilence;
    std::uint64_t first;
    std::uint64_t start;
    float best = kNone;       // evidence of the candidate so far (kNone: none yet)
    float character = 0.0f;   // its blocks' character evidence, summed
    std::uint64_t counted = 0;
    float quiet = 0.0f;       // the quiet blocks' cost in `best`
    bool haveBefore = false;  // the candidate has a block that is not silent
    std::uint8_t before = 0;
    int octavesBefore = 0;

    // A silent or quiet block that is not the end block.
    void Quiet(std::uint64_t at, const Decoded& decoded)
    {
        if (best == kNone && (!trim || (keepSilence && at == first))) {
            best = 0.0f;
            start = at;
        } else if (best != kNone && trim && !keepSilence) {
            best -= kQuietCost;
            quiet += kQuietCost;
        }
        octavesBefore = EnergyOctaves(decoded.energy);
    }

    // A block that counts: it extends the candidate, or starts a better one.
    void Loud(std::uint64_t at, const std::uint8_t* block, const Decoded& decoded)
    {
        const std::uint8_t header = block[0];
        const int echo = static_cast<int>(std::min<std::uint64_t>(2, (at - first) / BRR_BLOCK_SIZE));
        const Scored scored = ScoreDecoded(decoded);
        const float fresh = HeaderEvidence(header, 0, true) + scored.decoded;
        const bool impossible = IsImpossible(header, before, !haveBefore);
        if (trim && ((impossible && (header >> 4) > kLargestRange) || IsFill(block))) {
            best = kNone;
            haveBefore = false;
            return;
        }
        float extend = kNone;
        if (best != kNone) {
            extend = best + (haveBefore ? HeaderEvidence(header, before, false) + scored.decoded +
                                              JumpEvidence(scored.octaves, octavesBefore) + EchoEvidence(block, echo)
                                        : fresh);
        }
        if (!trim) {
            best = (best == kNone ? fresh : extend) + (impossible ? kImpossible : 0.0f);
        } else if (best == kNone || impossible || (!keepSilence && fresh > extend + Margin(header))) {
            best = fresh;
            start = at;
            character = 0.0f;
            counted = 0;
            quiet = 0.0f;
        } else {
            best = extend;
        }
        character += scored.character;
        ++counted;
        haveBefore = true;
        before = header;
        octavesBefore = scored.octaves;
    }
};

}  // namespace

Judged JudgeChain(const std::uint8_t* data, std::uint64_t first, std::uint64_t end, bool trim, bool keepSilence)
{
    std::int32_t last = 0;
    std::int32_t older = 0;
    Judging j{trim, keepSilence, first, first};
    // A chain's first kJudgedBlocks blocks that are not quiet say all there
    // is to say: past them audio has long been sure, other bytes long ruled out.
    for (std::uint64_t at = first; at <= end && j.counted < kJudgedBlocks; at += BRR_BLOCK_SIZE) {
        const std::uint8_t* block = data + at;
        const Decoded decoded = DecodeForEvidence(block, last, older);
        if ((IsSilent(block) || decoded.loudest < kQuiet) && at != end) {
            j.Quiet(at, decoded);
        } else {
            j.Loud(at, block, decoded);
        }
    }
    if (j.best == kNone) {
        return Judged{first, 0, 0.0, 0};
    }
    const float mean = j.counted > 0 ? j.character / static_cast<float>(j.counted) : 0.0f;
    return Judged{j.start, (end - j.start) / BRR_BLOCK_SIZE + 1,
                  static_cast<double>(j.best + j.quiet + kCharacterBlocks * mean), j.counted};
}

float HeaderEvidenceOf(const std::uint8_t* data, std::uint64_t first, std::uint64_t end)
{
    float sum = 0.0f;
    bool haveBefore = false;
    std::uint8_t before = 0;
    for (std::uint64_t at = first; at <= end; at += BRR_BLOCK_SIZE) {
        if (at != end && IsSilent(data + at)) {
            continue;
        }
        sum += HeaderEvidence(data[at], before, !haveBefore);
        haveBefore = true;
        before = data[at];
    }
    return sum;
}

namespace {

// Every code small: quiet whatever the history, if the history is quiet.
bool IsFaint(const std::uint8_t* block)
{
    const std::uint32_t range = block[0] >> 4u;
    if (range > static_cast<std::uint32_t>(kLargestRange)) {
        return false;
    }
    for (int i = 1; i < 9; ++i) {
        for (const std::uint32_t nibble : {static_cast<std::uint32_t>(block[i] >> 4u), block[i] & 15u}) {
            const std::int32_t scaled = ScaleCode(nibble, range, true);
            if (scaled >= kQuiet || scaled <= -kQuiet) {
                return false;
            }
        }
    }
    return true;
}

// A code of zero, as the quiet before a sound has (chance bytes that pass as
// faint seldom do).
bool IsNearSilent(const std::uint8_t* block)
{
    int zeros = 0;
    for (int i = 1; i < 9; ++i) {
        zeros += ((block[i] >> 4) == 0 ? 1 : 0) + ((block[i] & 15) == 0 ? 1 : 0);
    }
    return zeros >= 1;
}

constexpr std::uint64_t kLongestPad = 256;

// Where a padded bank puts a sample: the first multiple of 16 or 256 after
// the sample before, whose end block ends where the zeros begin or in them
// (its last bytes may be zeros too), with fewer than 256 zeros between (more
// is fill, or silence). The zeros of the find before, ending at `after`, are
// its own.
bool IsBankPlace(const std::uint8_t* data, std::uint64_t at, std::uint64_t after)
{
    if (at % 16 != 0 || at <= after || data[at - 1] != 0) {
        return false;
    }
    std::uint64_t zeros = at - 1;
    while (zeros > after && data[zeros - 1] == 0 && at - zeros < kLongestPad) {
        --zeros;
    }
    if (at - zeros >= kLongestPad) {
        return false;
    }
    for (std::uint64_t end = std::max(zeros, std::uint64_t{BRR_BLOCK_SIZE}); end <= at && end < zeros + BRR_BLOCK_SIZE;
         ++end) {
        if ((data[end - BRR_BLOCK_SIZE] & BRR_END_FLAG) != 0 &&
            (RoundUp(end, 16) == at || RoundUp(end, kLongestPad) == at)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::uint64_t AlignStart(const std::uint8_t* data, std::uint64_t segment, std::uint64_t start, bool packed,
                         std::uint64_t after, const BRRFound* before)
{
    constexpr std::uint64_t kLongestSilence = 256;  // blocks
    std::uint64_t earliest = start;
    while (earliest >= segment + BRR_BLOCK_SIZE && IsFaint(data + earliest - BRR_BLOCK_SIZE)) {
        earliest -= BRR_BLOCK_SIZE;
    }
    // Of two bank places (144 bytes apart, so in the same phase), the one
    // its bank pads to: 16 when the sample before starts at a multiple of
    // 16 alone, else 256 (more likely than 16 blocks of silence).
    const bool by16 = before != nullptr && before->offset % 16 == 0 && before->offset % kLongestPad != 0;
    std::uint64_t aligned = kNoPosition;
    for (std::uint64_t at = earliest; at <= start; at += BRR_BLOCK_SIZE) {
        if (start - at < kLongestSilence * BRR_BLOCK_SIZE && IsBankPlace(data, at, after)) {
            aligned = at;
            if (by16) {
                break;
            }
        }
    }
    if (aligned != kNoPosition) {
        return aligned;
    }
    // Right after a sample's end block: its own leading silence, unless so
    // long that it is fill.
    if (packed && start - segment < kLongestSilence * BRR_BLOCK_SIZE) {
        return segment;
    }
    // A sample's first blocks may be the onset of a sound, unlike the blocks
    // after them, and trimmed for it: a bank's place a few blocks before is
    // its start.
    constexpr std::uint64_t kOnsetBlocks = 8;
    for (std::uint64_t k = 1; k <= kOnsetBlocks && start >= segment + k * BRR_BLOCK_SIZE; ++k) {
        const std::uint64_t onset = start - k * BRR_BLOCK_SIZE;
        if (IsBankPlace(data, onset, after) || (onset == after && after != 0)) {
            return onset;
        }
    }
    // Else the near-silent blocks just before it that are not zero bytes:
    // the sample's quiet beginning.
    std::uint64_t first = start;
    while (first >= earliest + BRR_BLOCK_SIZE && IsNearSilent(data + first - BRR_BLOCK_SIZE) &&
           !IsZeroBlock(data + first - BRR_BLOCK_SIZE)) {
        first -= BRR_BLOCK_SIZE;
    }
    return first;
}

}  // namespace scan
}  // namespace vornish
