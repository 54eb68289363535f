// Reports about a conversion that decodes the input several times in a row:
// does every pass start from the same decoder history, and which note does
// the repetition rate of the whole file play.
#ifndef VORNISH_LOOP_REPORTS_H
#define VORNISH_LOOP_REPORTS_H

#include <cstdint>
#include <cstdio>

namespace vornish {

// Note names from C upward, each two characters wide.
extern const char* const NoteNames[12];

// The note nearest to z, counted in semitones from A 4 (z = 0 is C 5, so
// A 4 is z = -3), as a name index 0..11, an octave and the cents (-50..50)
// by which z lies above the note.
struct ProbableNote {
    int index;
    int octave;
    long cents;
};
ProbableNote NearestNote(double z);

// Both reports print to `out`, and nothing when it is null.

// Prints "Looping is stable." when loop 1 starts with the same two samples as
// loop 0; otherwise "Looping is unstable, " and either the first later loop
// that repeats an earlier one or a hint to try more loops. Nothing for fewer
// than two loops. `firsts` and `seconds` hold each loop's first two samples.
void ReportLoopStability(std::FILE* out, std::uint32_t loopCount, const std::int16_t* firsts,
                         const std::int16_t* seconds);

// Prints the note played when `blockCount` blocks repeat at `sampleRate` Hz,
// or a bare line end for 45 blocks or more (below any useful pitch).
void ReportProbableNote(std::FILE* out, std::uint32_t blockCount, std::uint32_t sampleRate);

}  // namespace vornish

#endif
