// Reports about a rendering that plays the loop several times in a row: does
// every pass start from the same decoder history, and which note does the
// loop's repetition rate play. Values only; clients word them.
#ifndef VORNISH_LOOP_REPORTS_H
#define VORNISH_LOOP_REPORTS_H

#include <cstdint>

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

// BRR_STABILITY_STABLE when pass 1 starts with the same two samples as pass
// 0; otherwise BRR_STABILITY_REPEATS with the first pair of passes
// earlier < later that start alike (by earlier, then later), or
// BRR_STABILITY_UNDECIDED. BRR_STABILITY_NONE for fewer than two passes.
// `firsts` and `seconds` hold each pass's first two samples.
int LoopStability(std::uint32_t loopCount, const std::int16_t* firsts, const std::int16_t* seconds,
                  std::uint32_t* later, std::uint32_t* earlier);

// BRR_NOTE_FOUND with the note played when `blockCount` blocks repeat at
// `sampleRate` Hz, or BRR_NOTE_TOO_LONG for 45 blocks or more (below any
// useful pitch; also for a count or rate of 0).
int LoopNote(std::uint32_t blockCount, std::uint32_t sampleRate, ProbableNote* note);

}  // namespace vornish

#endif
