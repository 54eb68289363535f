#include "report/loop_reports.h"

#include <cmath>
#include <cstdio>

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

void ReportLoopStability(std::FILE* out, std::uint32_t loopCount, const std::int16_t* firsts,
                         const std::int16_t* seconds)
{
    if (out == nullptr || loopCount < 2) {
        return;
    }
    if (firsts[1] == firsts[0] && seconds[1] == seconds[0]) {
        std::fputs("Looping is stable.\n", out);
        return;
    }
    std::fputs("Looping is unstable, ", out);
    for (std::uint32_t i = 0; i + 1 < loopCount; ++i) {
        for (std::uint32_t j = i + 1; j < loopCount; ++j) {
            if (firsts[j] == firsts[i] && seconds[j] == seconds[i]) {
                std::fprintf(out, "samples repeat from loop %u to loop %u.\n", j, i);
                return;
            }
        }
    }
    std::fputs("try a larger number of loops to figure the length until the sample repeats.\n",
               out);
}

void ReportProbableNote(std::FILE* out, std::uint32_t blockCount, std::uint32_t sampleRate)
{
    if (out == nullptr) {
        return;
    }
    if (blockCount >= 45 || blockCount == 0 || sampleRate == 0) {
        std::fputs("\n", out);
        return;
    }
    const double frequency = static_cast<double>(sampleRate) / (16.0 * static_cast<double>(blockCount));
    const double z = 12.0 * std::log2(frequency * (1.0 / 440.0)) - 3.0;
    const ProbableNote note = NearestNote(z);
    std::fprintf(out, " (probable note : %s%d %+ld cents)\n", NoteNames[note.index], note.octave,
                note.cents);
}

}  // namespace vornish
