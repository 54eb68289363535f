#include "render/loop_reports.h"

#include <cmath>

#include "VornishAudioBRR.h"

namespace vornish {

const char* const NoteNames[12] = {"C ", "C#", "D ", "Eb", "E ", "F ",
                                   "F#", "G ", "G#", "A ", "Bb", "B "};

ProbableNote NearestNote(double z)
{
    // Bring z into -0.5 <= z < 11.5, one octave at a time, so that rounding
    // to the nearest whole number names a note of that octave.
    int octave = 5;
    while (z < -0.5) {
        z += 12;
        --octave;
    }
    while (z >= 11.5) {
        z -= 12;
        ++octave;
    }
    const int index = static_cast<int>(std::floor(z + 0.5));
    return ProbableNote{index, octave, std::lround(100.0 * (z - index))};
}

int LoopStability(std::uint32_t loopCount, const std::int16_t* firsts, const std::int16_t* seconds,
                  std::uint32_t* later, std::uint32_t* earlier)
{
    if (loopCount < 2) {
        return BRR_STABILITY_NONE;
    }
    if (firsts[1] == firsts[0] && seconds[1] == seconds[0]) {
        return BRR_STABILITY_STABLE;
    }
    for (std::uint32_t i = 0; i + 1 < loopCount; ++i) {
        for (std::uint32_t j = i + 1; j < loopCount; ++j) {
            if (firsts[j] == firsts[i] && seconds[j] == seconds[i]) {
                *later = j;
                *earlier = i;
                return BRR_STABILITY_REPEATS;
            }
        }
    }
    return BRR_STABILITY_UNDECIDED;
}

int LoopNote(std::uint32_t blockCount, std::uint32_t sampleRate, ProbableNote* note)
{
    if (blockCount >= 45 || blockCount == 0 || sampleRate == 0) {
        return BRR_NOTE_TOO_LONG;
    }
    const double frequency = static_cast<double>(sampleRate) / (16.0 * static_cast<double>(blockCount));
    *note = NearestNote(12.0 * std::log2(frequency * (1.0 / 440.0)) - 3.0);
    return BRR_NOTE_FOUND;
}

}  // namespace vornish
