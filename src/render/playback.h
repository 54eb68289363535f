// Playback rendering: the voice's 4-tap interpolation at a pitch, as the
// playback hardware does it, at 32000 output samples per second.
#ifndef VORNISH_PLAYBACK_H
#define VORNISH_PLAYBACK_H

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRR.h"

namespace vornish {

constexpr std::uint32_t kPlaybackRate = BRR_PLAYBACK_RATE;
constexpr std::uint32_t kPitchOne = BRR_PITCH_ONE;  // one source sample per output sample

// The interpolation table g[0..511].
extern const std::int16_t kInterpolation[512];

// How many samples a source of `sourceCount` samples plays for at `pitch`.
inline std::uint64_t PlayedCount(std::uint64_t sourceCount, std::uint32_t pitch)
{
    return (sourceCount * kPitchOne + pitch - 1) / pitch;
}

// The voice, fed the decoded samples in order, piece by piece.
struct Player {
    std::uint32_t pitch = kPitchOne;
    std::uint64_t position = 0;  // 12 fraction bits
    std::uint64_t fed = 0;       // source samples so far
    std::int32_t v[4] = {0, 0, 0, 0};  // the newest four, in 15 bits: v[3] is the newest
};

// Feeds `count` decoded samples; writes every output they complete to
// `out` (room for `capacity`) and returns how many. `*used` is how many
// samples of `samples` were taken: fewer than `count` when `out` filled up.
std::size_t Play(Player& player, const std::int16_t* samples, std::size_t count, std::int16_t* out,
                 std::size_t capacity, std::size_t* used);

}  // namespace vornish

#endif
