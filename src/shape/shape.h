// The shaping library's own parts: the plan of a shape, the steps that
// carry it out, and the loop search.
#ifndef VORNISH_SHAPE_SHAPE_H
#define VORNISH_SHAPE_SHAPE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "VornishAudioBRRShape.h"

namespace vornish::shape {

constexpr double kMax = 32767.0;

// The loop (start and length at the new rate, `times` copies of it after
// resampling), the total before the copies, and the silence in front.
struct Plan {
    double ratio = 1;
    bool looped = false;
    std::int64_t start = -1;
    std::int64_t loop = 0;
    std::size_t total = 0;
    std::int64_t times = 1;    // BRR_LOOP_FIT_REPEAT: copies after resampling
    std::int64_t repeats = 1;  // BRR_LOOP_FIT_AUTO: input loops resampled as one
    std::int64_t pad = 0;
};

// BRR_OK, or why the options or the length cannot be shaped.
int Check(std::size_t count, const BRRShapeOptions& options);
Plan PlanOf(std::size_t count, const BRRShapeOptions& options);
BRRShapePlan Public(const Plan& plan, const BRRShapeOptions& options);
// The byte budget's rate (BRRShapeRateForBytes), or -1 when none fits.
double RateForBytes(std::size_t count, const BRRShapeOptions& options, std::uint64_t maxBytes);

// Shapes x (BRR_OK or a status); `out` holds the plan's samples.
int Shape(const double* x, std::size_t count, const BRRShapeOptions& options, std::int16_t* out,
          BRRShapeResult& result);

// The loop search on samples already checked.
void FindLoop(const double* x, std::size_t count, double rate, BRRFoundLoop& found);

}  // namespace vornish::shape

#endif
