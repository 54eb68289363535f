// Loop finding. A loop [s, e) joins well when the samples before its end
// are those before its start: playback then runs on from e as it ran on
// from s. The search:
//
//   1. where a loop may lie, from the envelope (sustain.cpp): anywhere
//      after the attack in a recording cut while it sounds; inside a steady
//      stretch in one that dies away; nowhere in speech or a drum hit;
//   2. ends spread over the later half of that stretch, and every other one
//      of its last 64 samples; for each end, every start judged on a signal
//      decimated to about 8 kHz, over 256 samples before the splice (a loop
//      shorter than that repeated, as the fit repeats it, so that it is
//      whole periods), the best few of each octave of loop lengths kept;
//   3. those placed at the full rate (on 32 samples, then judged on 256);
//      of the loops within a dB and a half of the best, the longest, its end
//      then moved to the best seam near;
//   4. a recording that dies away loops only where that join is clean.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "shape/shape.h"
#include "shape/sustain.h"

namespace vornish::shape {
namespace {

constexpr std::int64_t kWidest = 256;     // the seam's window
constexpr std::int64_t kNear = 32;        // the window that places a start
constexpr std::int64_t kShortest = 16;   // the shortest loop
constexpr int kEnds = 24;
constexpr std::int64_t kLastEnds = 64;
constexpr int kPerOctave = 4;
constexpr double kTolerance = 1.5;       // dB of seam a longer loop may cost
constexpr double kJoinsReleasedDb = -10; // the worst seam taken where a sound dies away
constexpr double kNever = std::numeric_limits<double>::infinity();

struct Signal {
    const double* x;
    std::int64_t n;
    std::vector<double> energy;  // prefix sums of x^2
};

double Db(double ratio) { return 10.0 * std::log10(ratio); }

double Energy(const Signal& g, std::int64_t a, std::int64_t b)
{
    return g.energy[static_cast<std::size_t>(b)] - g.energy[static_cast<std::size_t>(a)];
}

// The loop's samples repeated backwards from its end, against the `width`
// samples before its start: the squared difference. A loop shorter than the
// window is fitted by repeating it, so it must repeat the sound before it,
// not only its last period. The sum stops once past `limit`, where the loop
// has lost already.
double Mismatch(const double* x, std::int64_t s, std::int64_t e, std::int64_t width,
                double limit = std::numeric_limits<double>::infinity())
{
    double d = 0;
    for (std::int64_t k = 1, j = e - 1; k <= width && d <= limit; ++k, j = j == s ? e - 1 : j - 1) {
        const double v = x[j] - (k <= s ? x[s - k] : 0.0);  // silence before the first sample
        d += v * v;
    }
    return d;
}

// That mismatch relative to the loop's mean energy, in dB (kNever once it
// is known to be worse than `beat`).
double Seam(const Signal& g, std::int64_t s, std::int64_t e, std::int64_t width, double beat = kNever)
{
    const double loopMean = Energy(g, s, e) / static_cast<double>(e - s);
    if (width <= 0 || loopMean <= 0) {
        return kNever;
    }
    const double scale = static_cast<double>(width) * loopMean;
    const double limit = std::pow(10.0, beat / 10.0) * scale;
    const double d = Mismatch(g.x, s, e, width, limit);
    return d > limit ? kNever : Db(std::max(d / scale, 1e-20));
}

struct Loop {
    std::int64_t s = -1;
    std::int64_t e = -1;
    double seam = kNever;
};

// The decimated signal: means of `step` samples, with their prefix energies.
struct Coarse {
    std::int64_t step;
    std::vector<double> y;
    std::vector<double> energy;
};

Coarse Decimate(const Signal& g, double rate)
{
    Coarse c;
    c.step = std::max<std::int64_t>(1, std::llround(rate / 8000.0));
    c.energy.push_back(0);
    for (std::int64_t a = 0; a + c.step <= g.n; a += c.step) {
        double m = 0;
        for (std::int64_t k = 0; k < c.step; ++k) {
            m += g.x[a + k];
        }
        c.y.push_back(m / static_cast<double>(c.step));
        c.energy.push_back(c.energy.back() + c.y.back() * c.y.back());
    }
    return c;
}

// The best few loops of one octave of lengths, apart from each other.
struct Octave {
    Loop best[kPerOctave];

    void Offer(const Loop& l, std::int64_t apart)
    {
        Loop* slot = &best[kPerOctave - 1];
        for (Loop& b : best) {
            if (b.s >= 0 && std::llabs(b.s - l.s) < apart) {
                slot = &b;  // the same dip: keep its lowest point
                break;
            }
        }
        if (l.seam >= slot->seam) {
            return;
        }
        *slot = l;
        std::sort(std::begin(best), std::end(best), [](const Loop& x, const Loop& y) { return x.seam < y.seam; });
    }
};

// The coarse seam of [cs, ce) in decimated samples, over `width` before them.
double CoarseSeam(const Coarse& c, std::int64_t cs, std::int64_t ce, std::int64_t width)
{
    const double* y = c.y.data();
    const auto sum = [&](std::int64_t a, std::int64_t b) {
        return c.energy[static_cast<std::size_t>(b)] - c.energy[static_cast<std::size_t>(a)];
    };
    const std::int64_t w = width;
    double d = 0;
    if (ce - cs >= w && cs >= w) {
        double cross = 0;
        for (std::int64_t k = 1; k <= w; ++k) {
            cross += y[ce - k] * y[cs - k];
        }
        d = sum(ce - w, ce) + sum(cs - w, cs) - 2 * cross;
    } else {
        d = Mismatch(y, cs, ce, w);
    }
    const double loopMean = sum(cs, ce) / static_cast<double>(ce - cs);
    return loopMean > 0 ? Db(std::max(d / static_cast<double>(w) / loopMean, 1e-20)) : kNever;
}

// For one end, the best starts of each octave of loop lengths, judged on the
// coarse signal, then refined at the full rate.
void SearchEnd(const Signal& g, const Coarse& c, std::int64_t sMin, std::int64_t e, std::vector<Loop>& found)
{
    const std::int64_t ce = e / c.step;
    const std::int64_t width = std::max<std::int64_t>(1, std::min<std::int64_t>(64, kWidest / c.step));
    std::vector<Octave> octaves(64);
    for (std::int64_t cs = std::max<std::int64_t>((sMin + c.step - 1) / c.step, 1); (ce - cs) * c.step >= kShortest;
         ++cs) {
        const auto octave = static_cast<std::size_t>(std::log2(static_cast<double>((ce - cs) * c.step)));
        octaves[octave].Offer(Loop{cs * c.step, e, CoarseSeam(c, cs, ce, width)}, 3 * c.step);
    }
    for (const Octave& octave : octaves) {
        for (const Loop& o : octave.best) {
            // The nearest samples first, the whole window for the best of them.
            Loop near;
            for (std::int64_t s = std::max(sMin, o.s - 2 * c.step); o.s >= 0 && s <= o.s + 2 * c.step && e - s >= kShortest;
                 ++s) {
                const double seam = Seam(g, s, e, kNear, near.seam);
                if (seam < near.seam) {
                    near = Loop{s, e, seam};
                }
            }
            if (near.s >= 0) {
                found.push_back(Loop{near.s, e, Seam(g, near.s, e, kWidest)});
            }
        }
    }
}

// Of the loops found, the longest within kTolerance of the best seam.
Loop Choose(const std::vector<Loop>& found)
{
    double best = kNever;
    for (const Loop& l : found) {
        best = std::min(best, l.seam);
    }
    Loop chosen;
    for (const Loop& l : found) {
        if (l.seam <= best + kTolerance && (chosen.s < 0 || l.e - l.s > chosen.e - chosen.s)) {
            chosen = l;
        }
    }
    return chosen;
}

// The chosen loop's end moved by up to `reach` samples either way (the
// ends searched lie apart), its start following: the best seam of those.
Loop Refine(const Signal& g, const Loop& l, std::int64_t sMin, std::int64_t end, std::int64_t reach)
{
    Loop best = l;
    const std::int64_t length = l.e - l.s;
    for (std::int64_t e = std::max(l.e - reach, sMin + length); e <= std::min(end, l.e + reach); ++e) {
        for (std::int64_t s = std::max(sMin, e - length - 2); s <= e - length + 2; ++s) {
            const double seam = Seam(g, s, e, kWidest, best.seam);
            if (seam < best.seam) {
                best = Loop{s, e, seam};
            }
        }
    }
    return best;
}

}  // namespace

void FindLoop(const double* x, std::size_t count, double rate, BRRFoundLoop& out)
{
    Signal g{x, static_cast<std::int64_t>(count), std::vector<double>(count + 1, 0.0)};
    for (std::size_t i = 0; i < count; ++i) {
        g.energy[i + 1] = g.energy[i] + x[i] * x[i];
    }
    out = BRRFoundLoop{-1, -1, BRR_LOOP_NOT_SUSTAINED, kNever, 0, {}};
    const Sustain where = Sustains(x, count, rate);
    const std::int64_t sMin = where.from;
    const std::int64_t end = where.to;
    if (end <= sMin) {
        return;
    }
    if (end - sMin < 2 * kShortest) {
        out.verdict = BRR_LOOP_TOO_SHORT;
        return;
    }
    const Coarse c = Decimate(g, rate);
    std::vector<Loop> found;
    const std::int64_t from = sMin + std::max<std::int64_t>(kShortest, (end - sMin) / 2);
    for (int k = 0; k < kEnds; ++k) {
        SearchEnd(g, c, sMin, from + (end - from) * k / kEnds, found);
    }
    // Where a recording was cut to its loop, the loop ends at its last samples.
    for (std::int64_t e = end; e > std::max(from, end - kLastEnds); e -= 2) {
        SearchEnd(g, c, sMin, e, found);
    }
    const Loop l = Refine(g, Choose(found), sMin, end, (end - from) / kEnds / 2 + 1);
    // A recording cut while it sounds loops however it joins; one that dies
    // away only where the join is clean.
    if (l.s >= 0 && (where.cut || l.seam <= kJoinsReleasedDb)) {
        out = BRRFoundLoop{l.s, l.e, BRR_LOOP_FOUND, Seam(g, l.s, l.e, std::min(kWidest, l.e - l.s)), 0, {}};
    }
}

}  // namespace vornish::shape
