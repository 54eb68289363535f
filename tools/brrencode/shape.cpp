// Shaping a signal into the samples the library encodes:
//
//   rate     libsoxr at its very-high quality, only when the rate changes;
//   loop     --loop-fit auto: of k = 1..16 periods of the loop resampled to
//            the nearest whole number of blocks, the k that changes the
//            rate least (among those that at most double the sample, or add
//            at most 2048 samples);
//            --loop-fit resample: k = 1, the whole sample resampled by the ratio
//            nearest 1 that makes the loop a whole number of blocks;
//            --loop-fit repeat: the loop repeated (at most 16 times) until
//            its length is a multiple of 16. The sample ends with the loop,
//            and the loop's continuation (itself) feeds the filters at its end;
//   boost    the inverse of the playback interpolation at pitch 4096;
//   blocks   silence in front, so that the loop starts on a block.
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "brrencode.h"

namespace brrencode {
namespace {

constexpr double kMax = 32767.0;
constexpr double kSafeMax = 2.0 * BRR_SAFE_MAX;

// The samples, then the loop repeated until `extra` more samples follow.
std::vector<double> Continued(const std::vector<double>& in, std::int64_t start, std::int64_t end,
                              std::size_t extra)
{
    std::vector<double> out(in.begin(), in.begin() + (start >= 0 ? end : static_cast<std::int64_t>(in.size())));
    for (std::size_t i = 0; start >= 0 && i < extra; ++i) {
        out.push_back(in[static_cast<std::size_t>(start) + i % static_cast<std::size_t>(end - start)]);
    }
    return out;
}

bool Resample(const std::vector<double>& in, double inRate, double outRate, std::size_t length,
              const std::string& name, std::vector<double>& out)
{
    out.assign(static_cast<std::size_t>(std::ceil(static_cast<double>(in.size()) * outRate / inRate)) + 16, 0.0);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t done = 0;
    const soxr_error_t error = soxr_oneshot(inRate, outRate, 1, in.data(), in.size(), nullptr, out.data(),
                                            out.size(), &done, &io, &quality, nullptr);
    if (error != nullptr) {
        PrintFailure(name, (std::string("cannot be resampled: ") + error).c_str());
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
    const std::vector<double> ahead = Continued(x, loopStart, static_cast<std::int64_t>(n), 8);
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

// Rounds x to 16 bits onto pcm; returns how many samples were clipped.
std::uint64_t AppendRounded(const std::vector<double>& x, std::vector<std::int16_t>& pcm)
{
    std::uint64_t clipped = 0;
    for (const double v : x) {
        const double r = std::round(v);
        clipped += r > kMax || r < -kMax - 1 ? 1 : 0;
        pcm.push_back(static_cast<std::int16_t>(std::clamp(r, -kMax - 1, kMax)));
    }
    return clipped;
}

// --loop-fit auto: how many periods of the loop (1..16) to resample to whole
// blocks, the rate at `ratio` changing least; of equals, the fewest.
std::int64_t Periods(std::int64_t start, std::int64_t length, double ratio)
{
    constexpr std::int64_t kMostPeriods = 16;
    constexpr double kFewSamples = 2048;  // a short loop's repeats cost little
    const auto blocks = [&](std::int64_t k) {
        return std::max(1.0, std::round(static_cast<double>(length * k) * ratio / 16.0));
    };
    const double once = static_cast<double>(start) * ratio + 16.0 * blocks(1);
    std::int64_t best = 1;
    double bestChange = std::fabs(16.0 * blocks(1) / (static_cast<double>(length) * ratio) - 1.0);
    for (std::int64_t k = 2; k <= kMostPeriods; ++k) {
        const double added = 16.0 * (blocks(k) - blocks(1));
        const double change = std::fabs(16.0 * blocks(k) / (static_cast<double>(length * k) * ratio) - 1.0);
        if ((added <= once || added <= kFewSamples) && change < bestChange - 1e-12) {
            best = k;
            bestChange = change;
        }
    }
    return best;
}

}  // namespace

ShapePlan PlanShape(const Signal& signal, const Options& options)
{
    ShapePlan p;
    p.ratio = options.rate != 0 ? options.rate / signal.rate : 1.0;
    p.looped = signal.loopStart >= 0;
    const std::int64_t length = p.looped ? signal.loopEnd - signal.loopStart : 0;
    if (p.looped && options.loopFit != LoopFit::kRepeat) {
        p.repeats = options.loopFit == LoopFit::kAuto ? Periods(signal.loopStart, length, p.ratio) : 1;
        const double blocks = std::max(1.0, std::round(static_cast<double>(length * p.repeats) * p.ratio / 16.0));
        p.ratio = 16.0 * blocks / static_cast<double>(length * p.repeats);
    }
    p.start = p.looped ? static_cast<std::int64_t>(std::llround(static_cast<double>(signal.loopStart) * p.ratio)) : -1;
    p.loop = p.looped ? std::max<std::int64_t>(1, std::llround(static_cast<double>(length * p.repeats) * p.ratio)) : 0;
    p.total = p.looped ? static_cast<std::size_t>(p.start + p.loop)
                       : static_cast<std::size_t>(std::llround(static_cast<double>(signal.samples.size()) * p.ratio));
    p.times = p.looped && options.loopFit == LoopFit::kRepeat ? 16 / std::gcd(p.loop, std::int64_t{16}) : 1;
    p.pad = p.looped ? (16 - p.start % 16) % 16 : 0;
    return p;
}

std::uint64_t ShapedBytes(const ShapePlan& p, const Options& options)
{
    const std::uint64_t samples = static_cast<std::uint64_t>(p.pad) + p.total +
                                  static_cast<std::uint64_t>((p.times - 1) * p.loop);
    const std::uint64_t headerOffset = p.looped ? static_cast<std::uint64_t>(p.start + p.pad) / 16 * BRR_BLOCK_SIZE : 0;
    const bool header = p.looped && !options.noLoopHeader && headerOffset <= 0xFFFF;
    return (samples + 15) / 16 * BRR_BLOCK_SIZE + (header ? BRR_LOOP_HEADER_SIZE : 0);
}

bool Shape(const Signal& signal, const Options& options, const std::string& name, Shaped& shaped)
{
    const double inRate = signal.rate;
    const ShapePlan plan = PlanShape(signal, options);
    const double ratio = plan.ratio;
    const bool looped = plan.looped;
    const std::int64_t start = plan.start;
    std::int64_t loop = plan.loop;
    const std::size_t total = plan.total;
    std::vector<double> x;
    shaped.resampled = ratio != 1.0;
    shaped.rate = inRate * ratio;
    // The loop runs on past its end: the periods --loop-fit auto takes, and
    // what the resampler's filter reaches beyond them.
    const std::int64_t length = looped ? signal.loopEnd - signal.loopStart : 0;
    const auto extra = static_cast<std::size_t>(looped ? length * (plan.repeats - 1) + 16384 : 0);
    if (!shaped.resampled) {
        x = Continued(signal.samples, signal.loopStart, signal.loopEnd, looped ? static_cast<std::size_t>(length * (plan.repeats - 1)) : 0);
    } else if (!Resample(Continued(signal.samples, signal.loopStart, signal.loopEnd, extra), inRate, shaped.rate, total,
                         name, x)) {
        return false;
    }
    if (plan.times > 1) {
        const std::vector<double> once(x.begin() + start, x.begin() + start + loop);
        for (std::int64_t t = 1; t < plan.times; ++t) {
            x.insert(x.end(), once.begin(), once.end());
        }
        loop *= plan.times;
    }
    if (options.trebleBoost) {
        x = Boost(x, start);
        shaped.boostScale = ScaleUnderFullScale(x);
    }
    const std::int64_t pad = plan.pad;
    shaped.pcm.assign(static_cast<std::size_t>(pad), 0);
    shaped.clipped = AppendRounded(x, shaped.pcm);
    shaped.loopStart = looped ? start + pad : BRR_NO_LOOP_START;
    return true;
}

}  // namespace brrencode
