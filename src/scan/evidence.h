// What a chain of blocks says about itself: is it audio an encoder made, or
// other bytes read as blocks?
//
// Some blocks cannot be an encoder's, whatever their neighbours: a range of
// 13..15 (legal, but never encoded), or a loop flag unlike the block
// before's (a looped sample has it on every block or on the end block
// alone). A candidate starts after the last of them.
//
// The rest is evidence: log-likelihood ratios, each a table entry
// (ln P(feature | sample) / P(feature | other bytes), measured on encoded
// recordings against machine code, text, compressed data, tables and random
// bytes). Features of how a block follows the one before are summed over the
// blocks, since other bytes fail them block after block:
//
//   from the header:   range change, the first block's filter (an encoder
//                      starts from filter 0), the end block's loop flag
//   from the decoding: energy change, the largest code (an encoder picks the
//                      smallest range that fits), the codes' bias
//   from the bytes:    code bytes equal to those one or two blocks before
//                      (tables, fill and unrolled code repeat; audio does not)
//
// Features of what the sample sounds like are shared by all its blocks (a
// loud noise clamps and is bright in every block): their mean counts, as
// much as kCharacterBlocks blocks of the others.
//
//   character:         clamped or wrapped values, high-frequency energy
//
// Silent blocks (filter 0, every code 0: silence or fill) and quiet ones
// (every value within +-kQuiet: what tables of small numbers decode to, and
// a fade's last blocks) are no evidence either way, and the block after them
// is judged against the one before (its energy change against theirs: audio
// seldom drops to quiet between two loud blocks; tables of numbers do).
#ifndef VORNISH_SCAN_EVIDENCE_H
#define VORNISH_SCAN_EVIDENCE_H

#include <cstddef>
#include <cstdint>

namespace vornish {
namespace scan {

// Table sizes; the features' bins.
constexpr int kLargestRange = 12;
constexpr int kDeltaBins = 15;     // |range change| 0, 1, 2, 3, 4+: same filter, from filter 0, other
constexpr int kFilterBins = 4;     // the first block's filter
constexpr int kLoopBins = 4;       // end block's loop flag after the block before's: 00 01 11 10
constexpr int kFaultBins = 3;      // clamped or wrapped values: 0, 1..3, 4+
constexpr int kHighBins = 8;       // high-frequency share of the energy, by octave
constexpr int kJumpBins = 6;       // energy change in octaves: 0, 1, 2, 3-4, 5-8, 9+
constexpr int kPeakBins = 9;       // largest |code|
constexpr int kBiasBins = 5;       // |sum of codes|: 0-3, 4-7, 8-15, 16-31, 32+
constexpr int kEchoBins = 9;       // code bytes repeated: 0..8

struct Tables {
    float delta[kDeltaBins];
    float filter[kFilterBins];
    float loop[kLoopBins];
    float fault[kFaultBins];
    float high[kHighBins];
    float jump[kJumpBins];
    float peak[kPeakBins];
    float bias[kBiasBins];
    float echo[kEchoBins];
    // A block that predicts from the ones before repeats their codes only by
    // chance: tables and unrolled code do it, an encoder almost never (with
    // filter 0, a synthetic wave repeats its blocks whole).
    float echoPredicted[kEchoBins];
    float offset;  // the prior: score = 1 / (1 + exp(offset - evidence))
};

extern const Tables kTables;

// Filter 0 and every code 0: the block decodes to silence.
inline bool IsSilent(const std::uint8_t* block)
{
    std::uint8_t any = static_cast<std::uint8_t>(block[0] & 0x0C);
    for (int i = 1; i < 9; ++i) {
        any = static_cast<std::uint8_t>(any | block[i]);
    }
    return any == 0;
}

// Nine zero bytes: silence, or fill.
inline bool IsZeroBlock(const std::uint8_t* block)
{
    return block[0] == 0 && IsSilent(block);
}

// A block no encoder makes after `before`: range 13..15, or (unless it ends
// the sample) a loop flag other than the block before's.
inline bool IsImpossible(std::uint8_t header, std::uint8_t before, bool first)
{
    return (header >> 4) > kLargestRange ||
           (!first && (header & 1) == 0 && ((header ^ before) & 2) != 0);
}

// The decoded values' features of one block.
struct Decoded {
    int faults;             // values clamped or wrapped
    int peak;               // largest |code|
    int bias;               // sum of codes
    std::uint64_t energy;   // sum of value^2
    std::uint64_t change;   // sum of (value - value before)^2
    std::int32_t loudest;   // largest |value|
};

constexpr std::int32_t kQuiet = 64;  // -48 dB

// Decodes one block with the hardware's rules, history in `last`/`older`.
Decoded DecodeForEvidence(const std::uint8_t* block, std::int32_t& last, std::int32_t& older);

// floor(log2(energy + 1)): the energy in octaves.
int EnergyOctaves(std::uint64_t energy);

// A block's bins in each table; -1 where a feature does not apply (a first
// block has no change from the block before).
struct Bins {
    int delta, filter, loop;
    int fault, high, jump, peak, bias, echo;
};

// The most code bytes of `block` equal, position by position, to those of
// one of the `count` (0..2) blocks before it.
inline int Echo(const std::uint8_t* block, int count)
{
    int most = 0;
    for (int k = 1; k <= count; ++k) {
        int same = 0;
        for (int i = 1; i < 9; ++i) {
            same += block[i] == block[i - 9 * k] ? 1 : 0;
        }
        most = same > most ? same : most;
    }
    return most;
}

inline int EchoBin(int same) { return same; }

// Nine equal bytes that are not zero: fill, never a block of a sample.
inline bool IsFill(const std::uint8_t* block)
{
    bool same = block[0] != 0;
    for (int i = 1; i < 9; ++i) {
        same = same && block[i] == block[0];
    }
    return same;
}

inline void HeaderBins(std::uint8_t header, std::uint8_t before, bool first, Bins& b)
{
    const int range = header >> 4;
    b.filter = first ? (header >> 2) & 3 : -1;
    b.delta = -1;
    b.loop = -1;
    if (!first) {
        const int change = range > (before >> 4) ? range - (before >> 4) : (before >> 4) - range;
        // The range an encoder needs depends on the filter: filter 0 needs
        // the largest, and a change of filter may change it a lot.
        const int was = (before >> 2) & 3;
        const int is = (header >> 2) & 3;
        const int kind = was == is ? 0 : was == 0 ? 1 : 2;
        b.delta = (change < 4 ? change : 4) + 5 * kind;
        if ((header & 1) != 0) {
            const int was = (before >> 1) & 1;
            b.loop = 2 * was + (((header >> 1) & 1) ^ was);
        }
    }
}

void DecodedBins(const Decoded& d, int octavesBefore, bool first, Bins& b);

// What a block earns by being possible at all: other bytes pass the loop
// flag check half the time and the range check 13 times in 16.
constexpr float kPossible = 0.90f;

// The header's evidence for a block after `before` (a header), or with
// `first` for the candidate's first block.
inline float HeaderEvidence(std::uint8_t header, std::uint8_t before, bool first)
{
    Bins b;
    HeaderBins(header, before, first, b);
    if (first) {
        return kTables.filter[b.filter];
    }
    return kPossible + kTables.delta[b.delta] + (b.loop >= 0 ? kTables.loop[b.loop] : 0.0f);
}

// What a block's decoding says, but for its energy change: judged once,
// whether the block starts a candidate or follows another.
struct Scored {
    float decoded;    // largest code, bias
    float character;  // what it sounds like
    int octaves;      // its energy
};

Scored ScoreDecoded(const Decoded& d);

int JumpBin(int octaves, int octavesBefore);

inline float JumpEvidence(int octaves, int octavesBefore) { return kTables.jump[JumpBin(octaves, octavesBefore)]; }

// The bytes' evidence, `echo` (0..2) blocks before it in the chain.
inline float EchoEvidence(const std::uint8_t* block, int echo)
{
    const float* table = (block[0] & 0x0C) != 0 ? kTables.echoPredicted : kTables.echo;
    return echo > 0 ? table[EchoBin(Echo(block, echo))] : 0.0f;
}

constexpr float kCharacterBlocks = 8.0f;

// 0..1 from the evidence.
double ScoreOf(double evidence);

}  // namespace scan
}  // namespace vornish

#endif
