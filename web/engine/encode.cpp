// The page's encode, as brrencode makes it: the shaping library's plan and
// shape (a byte budget met by BRRShapeRateForBytes), then the encoder, the
// loop header where the plan holds one.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VornishAudioBRRShape.h"
#include "glue.h"

namespace {

// The shaping options of settings[] (see VornishEncode), the byte budget
// met by the rate, and the plan they make.
int PlanOf(std::size_t count, double inputRate, const double* settings, BRRShapeOptions& o, BRRShapePlan& plan)
{
    BRRShapeOptionsInit(&o);
    o.inputRate = inputRate;
    o.rate = settings[0];
    o.loopStart = static_cast<std::int64_t>(settings[1]);
    o.loopEnd = static_cast<std::int64_t>(settings[2]);
    o.loopFit = static_cast<int>(settings[3]);
    o.trebleBoost = static_cast<int>(settings[4]);
    o.loopHeader = settings[5] != 0 ? 0 : 1;
    if (settings[8] > 0) {
        double rate = 0;
        const int status = BRRShapeRateForBytes(count, &o, static_cast<std::uint64_t>(settings[8]), &rate);
        if (status != BRR_OK) {
            return status;
        }
        o.rate = rate;
    }
    return BRRShapePlanOf(count, &o, &plan);
}

// A malloc'd copy of the samples (one more, so that none is empty).
std::int16_t* CopyOf(const std::vector<std::int16_t>& pcm)
{
    auto* copy = static_cast<std::int16_t*>(std::malloc(sizeof(std::int16_t) * (pcm.size() + 1)));
    if (copy != nullptr) {
        std::memcpy(copy, pcm.data(), sizeof(std::int16_t) * pcm.size());
    }
    return copy;
}

}  // namespace

extern "C" {

// Encodes `count` samples (16-bit units at inputRate) as brrencode would:
// settings[] = {rate (0: kept), loop start, loop end (-1: none), loop fit,
// treble boost, no loop header, effort, rules, byte budget (0: none)};
// the blocks in a malloc'd buffer, report[] = {rate, SNR, loop seam,
// loop block, blocks, input beyond, shaping beyond, boost scale, shaped
// samples}, and the shaped samples in another malloc'd buffer. Nothing is
// left allocated when it fails.
int VornishEncode(const double* samples, std::size_t count, double inputRate, const double* settings,
                  std::uint8_t** blocks, std::size_t* size, double* report, std::int16_t** shapedOut)
{
    BRRShapeOptions o;
    BRRShapePlan plan{};
    int status = PlanOf(count, inputRate, settings, o, plan);
    if (status != BRR_OK) {
        return status;
    }
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(plan.sampleCount));
    BRRShapeResult shaped{};
    status = BRRShape(samples, count, &o, pcm.data(), pcm.size(), &shaped);
    if (status != BRR_OK) {
        return status;
    }
    BRREncodeOptions e;
    BRREncodeOptionsInit(&e);
    e.effort = static_cast<int>(settings[6]);
    e.rules = static_cast<int>(settings[7]);
    e.loopStart = plan.loopStart;
    e.loopHeader = plan.loopHeader;
    e.progress = VornishProgress;
    const std::uint64_t bytes = plan.loopHeader != 0 ? BRR_ENCODED_FILE_SIZE(pcm.size()) : BRR_ENCODED_SIZE(pcm.size());
    *blocks = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(bytes) + 1));
    // The samples the encoder was given, for the page to hear and draw.
    *shapedOut = CopyOf(pcm);
    BRREncodeResult r;
    status = *blocks == nullptr || *shapedOut == nullptr
                 ? BRR_STATUS_NO_MEMORY
                 : BRREncode(pcm.data(), pcm.size(), &e, *blocks, static_cast<std::size_t>(bytes), &r);
    if (status != BRR_OK) {
        std::free(*blocks);
        std::free(*shapedOut);
        *blocks = nullptr;
        *shapedOut = nullptr;
        return status;
    }
    *size = static_cast<std::size_t>(bytes);
    const double snr = r.squaredError == 0 ? INFINITY
                                           : 10.0 * std::log10(static_cast<double>(r.signalEnergy) /
                                                               static_cast<double>(r.squaredError));
    const double values[] = {plan.rate, snr, r.loopSeam, static_cast<double>(r.loopBlock),
                             static_cast<double>(r.blockCount), static_cast<double>(shaped.inputBeyond),
                             static_cast<double>(shaped.shapingBeyond), shaped.boostScale,
                             static_cast<double>(pcm.size())};
    std::memcpy(report, values, sizeof values);
    return BRR_OK;
}

}  // extern "C"
