// Shaping fuzz target: arbitrary bytes as interleaved frames of any type and
// channel count, mixed to mono, a loop looked for, and shaped with option
// fields at their edges and past them. A refusal writes nothing into the
// output; a success writes exactly the plan's samples, a loop on a block,
// and a found loop lies inside the samples.
//
// Byte 0: bits 0-2 the sample type (5-7 out of range), bits 3-5 the channel
// count - 1, bit 6 pick channel 2, bit 7 find a loop. Byte 1: bits 0-1 the
// loop fit (3 out of range), bit 2 the boost, bit 3 a loop from bytes 4-7,
// bits 4-6 the rate (0 kept; 1..6 from a table of edges). Byte 2: the input
// rate from a table. Byte 3: a wrong field (0 none; 1 reserved, 2 NaN rate,
// 3 loop header 2). Then the frames.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "VornishAudioBRRShape.h"

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

constexpr std::size_t kSizes[] = {1, 2, 4, 4, 8, 8, 8, 8};  // by sample type
constexpr double kRates[] = {0, 1, 8000, 32000, 44100, 96000, 1e7, 1e7 + 1};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8) {
        return 0;
    }
    const int type = data[0] & 7;
    const std::uint32_t channels = 1 + ((data[0] >> 3) & 7);
    const std::size_t frames = (size - 8) / (kSizes[type] * channels);
    std::vector<double> mono(frames + 1);
    BRRMonoResult counts;
    const int mixed = BRRToMono(data + 8, frames, channels, type, (data[0] & 64) != 0 ? 2u : 0u, mono.data(), &counts);
    Check(type <= BRR_SAMPLE_FLOAT64 || mixed == BRR_STATUS_BAD_OPTION, "a sample type accepted");
    if (mixed != BRR_OK) {
        return 0;
    }
    const double inputRate = kRates[data[2] & 7] + (data[2] >> 3);
    if ((data[0] & 128) != 0) {
        BRRFoundLoop loop;
        // Its edges lie in short sounds; long ones only take longer.
        const std::size_t searched = std::min<std::size_t>(frames, 300);
        const int status = BRRFindLoop(mono.data(), searched, inputRate, &loop);
        Check(status != BRR_OK || loop.start == -1 ||
                  (loop.start >= 0 && loop.start < loop.end && static_cast<std::size_t>(loop.end) <= searched),
              "a loop outside the samples");
    }
    BRRShapeOptions o;
    BRRShapeOptionsInit(&o);
    o.inputRate = inputRate;
    o.rate = kRates[(data[1] >> 4) & 7];
    o.loopFit = data[1] & 3;
    o.trebleBoost = (data[1] >> 2) & 1;
    if ((data[1] & 8) != 0) {
        o.loopStart = static_cast<std::int8_t>(data[4]) * 7;
        o.loopEnd = o.loopStart + data[5] + (data[6] << 8) - 100;
    }
    switch (data[3] & 3) {
    case 1: o.reserved[data[7] % 5] = 1; break;
    case 2: o.inputRate = std::numeric_limits<double>::quiet_NaN(); break;
    case 3: o.loopHeader = 2; break;
    default: break;
    }
    BRRShapePlan plan;
    const int planned = BRRShapePlanOf(frames, &o, &plan);
    if (planned != BRR_OK || plan.sampleCount > (1u << 20)) {
        return 0;
    }
    Check((data[3] & 3) == 0 && o.loopFit <= BRR_LOOP_FIT_REPEAT, "a wrong field planned");
    std::vector<std::int16_t> out(static_cast<std::size_t>(plan.sampleCount) + 1, 0x5A5A);
    BRRShapeResult r;
    const int status = BRRShape(mono.data(), frames, &o, out.data(), static_cast<std::size_t>(plan.sampleCount), &r);
    Check(out.back() == 0x5A5A, "a sample written past the plan");
    if (status == BRR_OK) {
        Check(r.plan.sampleCount == plan.sampleCount, "a shape unlike its plan");
        Check(plan.loopStart == BRR_NO_LOOP_START ||
                  (plan.loopStart % 16 == 0 && plan.loopLength % 16 == 0 && plan.loopLength > 0 &&
                   static_cast<std::uint64_t>(plan.loopStart + plan.loopLength) == plan.sampleCount),
              "a loop off its blocks");
    }
    return 0;
}
