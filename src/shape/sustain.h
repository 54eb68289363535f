// Whether a sound sustains, from its envelope, and where a loop may lie.
#ifndef VORNISH_SHAPE_SUSTAIN_H
#define VORNISH_SHAPE_SUSTAIN_H

#include <cstddef>
#include <cstdint>

namespace vornish::shape {

// [from, to): where a loop may lie; to <= from when the sound does not
// sustain. `cut`: the recording ends while it still sounds.
struct Sustain {
    std::int64_t from = 0;
    std::int64_t to = 0;
    bool cut = false;
};

Sustain Sustains(const double* x, std::size_t count, double rate);

}  // namespace vornish::shape

#endif
