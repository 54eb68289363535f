// The shaping library's public entry points: every argument checked, no
// exception let out.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "shape/shape.h"

namespace {

// Integer samples at their own full scale, as 16-bit units.
double Unit(const void* frames, std::size_t i, int type)
{
    switch (type) {
    case BRR_SAMPLE_UINT8: return (static_cast<const std::uint8_t*>(frames)[i] - 128.0) * 256.0;
    case BRR_SAMPLE_INT16: return static_cast<const std::int16_t*>(frames)[i];
    case BRR_SAMPLE_INT32: return static_cast<const std::int32_t*>(frames)[i] / 65536.0;
    case BRR_SAMPLE_FLOAT32: return static_cast<double>(static_cast<const float*>(frames)[i]) * 32768.0;
    default: return static_cast<const double*>(frames)[i] * 32768.0;
    }
}

// Floats held at twice full scale (infinities too); NaN counted, read as 0.
double Held(double v, std::uint64_t& nan)
{
    if (std::isnan(v)) {
        ++nan;
        return 0.0;
    }
    return std::clamp(v, -65536.0, 65536.0);
}

bool HasNaN(const double* x, std::size_t count)
{
    return std::any_of(x, x + count, [](double v) { return std::isnan(v); });
}

}  // namespace

extern "C" {

VORNISH_BRR_SHAPE_API int BRRToMono(const void* frames, std::size_t frameCount, std::uint32_t channels,
                                    int sampleType, std::uint32_t channel, double* out, BRRMonoResult* result)
{
    if ((frames == nullptr || out == nullptr) && frameCount > 0) {
        return BRR_STATUS_MISSING_PATH;
    }
    if (sampleType < BRR_SAMPLE_UINT8 || sampleType > BRR_SAMPLE_FLOAT64 || channels < 1 ||
        channels > BRR_MAX_CHANNELS || channel > channels || frameCount > SIZE_MAX / channels) {
        return BRR_STATUS_BAD_OPTION;
    }
    BRRMonoResult r{};
    for (std::size_t f = 0; f < frameCount; ++f) {
        const std::size_t at = f * channels;
        double v = 0;
        if (channel > 0) {
            v = Held(Unit(frames, at + channel - 1, sampleType), r.notNumbers);
        } else {
            for (std::uint32_t c = 0; c < channels; ++c) {
                v += Held(Unit(frames, at + c, sampleType), r.notNumbers);
            }
            v /= channels;
        }
        out[f] = v;
        const double rounded = std::round(v);
        r.beyond += rounded > 32767.0 || rounded < -32768.0 ? 1 : 0;
    }
    if (result != nullptr) {
        *result = r;
    }
    return r.notNumbers > 0 ? BRR_STATUS_NOT_NUMBERS : BRR_OK;
}

VORNISH_BRR_SHAPE_API void BRRShapeOptionsInit(BRRShapeOptions* options)
{
    if (options == nullptr) {
        return;
    }
    *options = BRRShapeOptions{};
    options->loopStart = -1;
    options->loopEnd = -1;
    options->loopFit = BRR_LOOP_FIT_AUTO;
    options->loopHeader = 1;
}

VORNISH_BRR_SHAPE_API int BRRShapePlanOf(std::size_t count, const BRRShapeOptions* options, BRRShapePlan* plan)
{
    if (options == nullptr || plan == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    const int status = vornish::shape::Check(count, *options);
    if (status == BRR_OK) {
        *plan = vornish::shape::Public(vornish::shape::PlanOf(count, *options), *options);
    }
    return status;
}

VORNISH_BRR_SHAPE_API int BRRShapeRateForBytes(std::size_t count, const BRRShapeOptions* options,
                                               std::uint64_t maxBytes, double* rate)
{
    if (options == nullptr || rate == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    const int status = vornish::shape::Check(count, *options);
    if (status != BRR_OK) {
        return status;
    }
    *rate = vornish::shape::RateForBytes(count, *options, maxBytes);
    if (*rate < 0) {
        BRRShapeOptions lowest = *options;
        lowest.rate = BRR_LOWEST_FIT_RATE;
        *rate = static_cast<double>(vornish::shape::Public(vornish::shape::PlanOf(count, lowest), lowest).encodedBytes);
        return BRR_STATUS_TOO_LARGE;
    }
    return BRR_OK;
}

VORNISH_BRR_SHAPE_API int BRRShape(const double* samples, std::size_t count, const BRRShapeOptions* options,
                                   std::int16_t* out, std::size_t outCount, BRRShapeResult* result)
{
    if (samples == nullptr || options == nullptr || out == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    int status = vornish::shape::Check(count, *options);
    if (status != BRR_OK) {
        return status;
    }
    if (HasNaN(samples, count)) {
        return BRR_STATUS_NOT_NUMBERS;
    }
    if (vornish::shape::Public(vornish::shape::PlanOf(count, *options), *options).sampleCount > outCount) {
        return BRR_STATUS_SMALL_BUFFER;
    }
    BRRShapeResult r;
    try {
        status = vornish::shape::Shape(samples, count, *options, out, r);
    } catch (const std::bad_alloc&) {
        return BRR_STATUS_NO_MEMORY;
    }
    if (result != nullptr && status == BRR_OK) {
        *result = r;
    }
    return status;
}

VORNISH_BRR_SHAPE_API int BRRFindLoop(const double* samples, std::size_t count, double rate, BRRFoundLoop* loop)
{
    if (samples == nullptr || loop == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    if (!(rate >= 1 && rate <= 1e7)) {
        return BRR_STATUS_BAD_OPTION;
    }
    if (count == 0) {
        return BRR_STATUS_NO_BLOCKS;
    }
    if (HasNaN(samples, count)) {
        return BRR_STATUS_NOT_NUMBERS;
    }
    try {
        BRRFoundLoop found{};
        vornish::shape::FindLoop(samples, count, rate, found);
        *loop = found;
    } catch (const std::bad_alloc&) {
        return BRR_STATUS_NO_MEMORY;
    }
    return BRR_OK;
}

}  // extern "C"
