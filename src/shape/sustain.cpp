// Whether a sound sustains: the envelope in 20 ms frames (fewer samples
// for a very short sound); the attack ends where it first comes within 3 dB
// of its peak.
#include "shape/sustain.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vornish::shape {
namespace {

constexpr double kFrameSeconds = 0.02;
constexpr double kAttackWithinDb = 3;
constexpr double kSoundWithinDb = 40;
constexpr double kSilentDb = 30;    // a fall this deep, then
constexpr double kLoudDb = 15;      // a frame this near the peak: it sounds again
constexpr double kEndWithinDb = 20;
constexpr double kSteadyDb = 4;
constexpr double kSteadySeconds = 0.2;

double Db(double ratio) { return 10.0 * std::log10(ratio); }

struct Envelope {
    std::int64_t frame;
    std::vector<double> level;  // mean energy per frame
    double peak = 0;
};

Envelope Measure(const double* x, std::int64_t n, double rate)
{
    Envelope v;
    v.frame = std::clamp<std::int64_t>(n / 16, 16, std::max<std::int64_t>(16, std::llround(rate * kFrameSeconds)));
    for (std::int64_t a = 0; a < n; a += v.frame) {
        const std::int64_t b = std::min(n, a + v.frame);
        double energy = 0;
        for (std::int64_t i = a; i < b; ++i) {
            energy += x[i] * x[i];
        }
        v.level.push_back(energy / static_cast<double>(b - a));
        v.peak = std::max(v.peak, v.level.back());
    }
    return v;
}

// Where the loop may lie: [from, to), or to <= from when the sound does
// not sustain. A sound still sounding at the file's end (within kEndWithinDb
// of its peak) may loop anywhere after its attack; one that dies away must
// hold its level (within kSteadyDb) for kSteadySeconds first, and loops
// there. A sound that starts again after its attack (speech, notes) never
// sustains.
Sustain Region(const Envelope& v, std::int64_t n, double rate)
{
    Sustain out;
    std::int64_t& from = out.from;
    std::int64_t& to = out.to;
    const auto frames = static_cast<std::int64_t>(v.level.size());
    const auto level = [&](std::int64_t f) { return Db(std::max(v.level[static_cast<std::size_t>(f)], 1e-9) / v.peak); };
    std::int64_t attack = 0;
    while (attack < frames && level(attack) < -kAttackWithinDb) {
        ++attack;
    }
    from = std::min(n, (attack + 1) * v.frame);
    to = from;
    bool fell = false;
    for (std::int64_t f = attack; f < frames; ++f) {
        fell = fell || level(f) < -kSilentDb;
        if (fell && level(f) > -kLoudDb) {
            return out;  // fell silent and sounds again
        }
    }
    const std::int64_t last = frames - 1 - (frames > 1 && n % v.frame != 0 ? 1 : 0);
    out.cut = level(last) >= -kEndWithinDb;
    if (out.cut) {
        to = n;
        return out;
    }
    // The longest steady stretch after the attack.
    const auto steady = static_cast<std::int64_t>(std::ceil(kSteadySeconds * rate / static_cast<double>(v.frame)));
    std::int64_t bestFrom = 0;
    std::int64_t bestLength = 0;
    for (std::int64_t a = attack + 1, b = a; a < frames; a = b) {
        double high = level(a);
        double low = high;
        for (b = a + 1; b < frames; ++b) {
            high = std::max(high, level(b));
            low = std::min(low, level(b));
            if (high - low > kSteadyDb) {
                break;
            }
        }
        if (b - a > bestLength && low > -kSoundWithinDb) {
            bestFrom = a;
            bestLength = b - a;
        }
    }
    if (bestLength >= steady) {
        from = bestFrom * v.frame;
        to = std::min(n, (bestFrom + bestLength) * v.frame);
    }
    return out;
}

}  // namespace

Sustain Sustains(const double* x, std::size_t count, double rate)
{
    const auto n = static_cast<std::int64_t>(count);
    const Envelope v = Measure(x, n, rate);
    return v.peak > 0 ? Region(v, n, rate) : Sustain{};
}

}  // namespace vornish::shape
