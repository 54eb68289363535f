// Shaping a signal into the samples the encoder takes:
//
//   rate     libsoxr at its very-high quality, only when the rate changes;
//   loop     as planned (plan.cpp); the loop's continuation (itself) feeds
//            the resampler and the boost at its end;
//   boost    the inverse of the playback interpolation at pitch 4096;
//   blocks   silence in front, so that the loop starts on a block.
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "shape/shape.h"

namespace vornish::shape {
namespace {

constexpr double kSafeMax = 2.0 * BRR_SAFE_MAX;

// The samples, then the loop repeated until `extra` more samples follow.
std::vector<double> Continued(const double* in, std::size_t count, std::int64_t start, std::int64_t end,
                              std::size_t extra)
{
    std::vector<double> out(in, in + (start >= 0 ? static_cast<std::size_t>(end) : count));
    for (std::size_t i = 0; start >= 0 && i < extra; ++i) {
        out.push_back(in[static_cast<std::size_t>(start) + i % static_cast<std::size_t>(end - start)]);
    }
    return out;
}

bool Resample(const std::vector<double>& in, double inRate, double outRate, std::size_t length,
              std::vector<double>& out)
{
    out.assign(static_cast<std::size_t>(std::ceil(static_cast<double>(in.size()) * outRate / inRate)) + 16, 0.0);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t done = 0;
    const soxr_error_t error = soxr_oneshot(inRate, outRate, 1, in.data(), in.size(), nullptr, out.data(),
                                            out.size(), &done, &io, &quality, nullptr);
    if (error != nullptr) {
        return false;
    }
    out.resize(std::min(done, length));
    out.resize(length, 0.0);
    return true;
}

// Pre-emphasis h[n] ~ r^|n|: the inverse of the interpolation's response at
// pitch 4096, (370 z^-3 + 1305 z^-2 + 374 z^-1) / 2048, taken as the
// symmetric a + b cos w, normalized to a DC gain of exactly 1.
std::vector<double> BoostTaps()
{
    const double a = 1305.0 / 2049.0;
    const double b = (370.0 + 374.0) / 2049.0;
    const double r = (std::sqrt(a * a - b * b) - a) / b;
    std::vector<double> taps(17);
    for (std::size_t k = 0; k < taps.size(); ++k) {
        taps[k] = std::pow(r, std::abs(static_cast<int>(k) - 8));
    }
    const double sum = std::accumulate(taps.begin(), taps.end(), 0.0);
    for (double& t : taps) {
        t /= sum;
    }
    return taps;
}

std::vector<double> Boost(const std::vector<double>& x, std::int64_t loopStart)
{
    const std::vector<double> taps = BoostTaps();
    const std::size_t n = x.size();
    const std::vector<double> ahead = Continued(x.data(), n, loopStart, static_cast<std::int64_t>(n), 8);
    std::vector<double> y(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < taps.size(); ++k) {
            const std::size_t j = i + k;  // x[i + k - 8]
            if (j >= 8 && j - 8 < ahead.size()) {
                y[i] += taps[k] * ahead[j - 8];
            }
        }
    }
    return y;
}

// Scales x down so that its peak stays inside the safe range when it would
// clip; returns the factor (1: untouched).
double ScaleUnderFullScale(std::vector<double>& x)
{
    const double peak =
        std::accumulate(x.begin(), x.end(), 0.0, [](double m, double v) { return std::max(m, std::fabs(v)); });
    if (peak <= kMax) {
        return 1.0;
    }
    const double scale = kSafeMax / peak;
    std::transform(x.begin(), x.end(), x.begin(), [&](double v) { return v * scale; });
    return scale;
}

bool Beyond(double v)
{
    const double r = std::round(v);
    return r > kMax || r < -kMax - 1;
}

// Rounds x to 16 bits into out; returns how many samples were clipped.
std::uint64_t Rounded(const std::vector<double>& x, std::int16_t* out)
{
    std::uint64_t clipped = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double r = std::round(x[i]);
        clipped += Beyond(x[i]) ? 1 : 0;
        out[i] = static_cast<std::int16_t>(std::clamp(r, -kMax - 1, kMax));
    }
    return clipped;
}

// The plan's samples before the boost: resampled (the loop and the periods
// the fit takes running on past its end), the loop's copies appended.
bool Fitted(const double* in, std::size_t count, const BRRShapeOptions& o, const Plan& plan, std::vector<double>& x)
{
    const bool looped = plan.looped;
    const std::int64_t length = looped ? o.loopEnd - o.loopStart : 0;
    if (plan.ratio == 1.0) {
        x = Continued(in, count, o.loopStart, o.loopEnd,
                      looped ? static_cast<std::size_t>(length * (plan.repeats - 1)) : 0);
    } else {
        // What the resampler's filter reaches beyond the loop's end.
        const auto extra = static_cast<std::size_t>(looped ? length * (plan.repeats - 1) + 16384 : 0);
        if (!Resample(Continued(in, count, o.loopStart, o.loopEnd, extra), o.inputRate, o.inputRate * plan.ratio,
                      plan.total, x)) {
            return false;
        }
    }
    if (plan.times > 1) {
        const auto from = x.begin() + static_cast<std::ptrdiff_t>(plan.start);
        const std::vector<double> once(from, from + static_cast<std::ptrdiff_t>(plan.loop));
        for (std::int64_t t = 1; t < plan.times; ++t) {
            x.insert(x.end(), once.begin(), once.end());
        }
    }
    return true;
}

}  // namespace

int Shape(const double* in, std::size_t count, const BRRShapeOptions& o, std::int16_t* out, BRRShapeResult& result)
{
    const Plan plan = PlanOf(count, o);
    result = BRRShapeResult{};
    result.plan = Public(plan, o);
    result.resampled = plan.ratio != 1.0 ? 1 : 0;
    result.boostScale = 1;
    result.inputBeyond = static_cast<std::uint64_t>(std::count_if(in, in + count, Beyond));
    std::vector<double> x;
    if (!Fitted(in, count, o, plan, x)) {
        return BRR_STATUS_RESAMPLE_FAILED;
    }
    if (o.trebleBoost != 0) {
        x = Boost(x, plan.start);
        result.boostScale = ScaleUnderFullScale(x);
    }
    std::fill(out, out + plan.pad, std::int16_t{0});
    const std::uint64_t clipped = Rounded(x, out + plan.pad);
    // The input's own samples past full scale are the file's; the rest is
    // what resampling made.
    result.shapingBeyond = result.inputBeyond > 0 ? 0 : clipped;
    return BRR_OK;
}

}  // namespace vornish::shape
