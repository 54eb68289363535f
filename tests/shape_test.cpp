// The shaping library: mixing to one channel, the plan and its fits, the
// saturation counted where it happens, and loop finding on generated
// sounds that sustain and sounds that do not.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "VornishAudioBRRShape.h"

namespace {

constexpr double kRate = 32000;

// One second per `seconds` of a sound: the value at time t (s) and sample i.
std::vector<double> Sound(double seconds, const std::function<double(double, std::size_t)>& at)
{
    std::vector<double> x(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = at(static_cast<double>(i) / kRate, i);
    }
    return x;
}

// A bowed-string-like tone: 8 harmonics of f with a light vibrato.
double Bowed(double t, double f)
{
    double v = 0;
    const double phase = 2 * M_PI * f * t + 0.3 * std::sin(2 * M_PI * 5 * t);
    for (int h = 1; h <= 8; ++h) {
        v += std::sin(h * phase) / h;
    }
    return 9000 * v * std::fmin(1.0, t / 0.05);
}

double Noise(std::size_t i)
{
    static std::vector<double> n = [] {
        std::mt19937 random(7);
        std::normal_distribution<double> d(0, 1);
        std::vector<double> v(1 << 17);
        for (double& x : v) {
            x = d(random);
        }
        return v;
    }();
    return n[i % n.size()];
}

struct LoopCase {
    const char* sound;
    std::vector<double> x;
    int verdict;
    double worstSeam;   // dB, where a loop is found
    double after;       // seconds the loop must start after (the attack)
    double loopBefore;  // seconds the loop must end by (0: anywhere)
};

TEST(BRRFindLoop, TellsSustainedSoundsFromOneShots)
{
    const LoopCase cases[] = {
        {"a bowed tone cut while it sounds", Sound(1.0, [](double t, std::size_t) { return Bowed(t, 220); }),
         BRR_LOOP_FOUND, -20, 0.05, 0},
        {"a tone held, then released to silence",
         Sound(1.6, [](double t, std::size_t) { return Bowed(t, 330) * (t < 1.0 ? 1.0 : std::exp(-(t - 1.0) * 12)); }),
         BRR_LOOP_FOUND, -20, 0.05, 1.05},
        {"a drum: a noise burst and a falling sine, decaying to silence",
         Sound(0.8, [](double t, std::size_t i) {
             return std::exp(-t * 14) * (12000 * std::sin(2 * M_PI * 60 * t * (1 - t)) + 6000 * Noise(i));
         }),
         BRR_LOOP_NOT_SUSTAINED, 0, 0, 0},
        {"syllables: gliding tone bursts between silences",
         Sound(1.5, [](double t, std::size_t) {
             const double in = std::fmod(t, 0.3);
             return in < 0.18 ? Bowed(in, 150 + 200 * in) * std::sin(M_PI * in / 0.18) : 0.0;
         }),
         BRR_LOOP_NOT_SUSTAINED, 0, 0, 0},
        // Rain or wind cut while it sounds loops, however noise joins.
        {"noise cut while it sounds", Sound(0.5, [](double, std::size_t i) { return 8000 * Noise(i); }),
         BRR_LOOP_FOUND, 6, 0, 0},
        {"noise dying away", Sound(0.5, [](double t, std::size_t i) { return 8000 * Noise(i) * (1 - 2 * t); }),
         BRR_LOOP_NOT_SUSTAINED, 0, 0, 0},
        {"silence", std::vector<double>(16000, 0.0), BRR_LOOP_NOT_SUSTAINED, 0, 0, 0},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.sound);
        BRRFoundLoop loop;
        ASSERT_EQ(BRRFindLoop(c.x.data(), c.x.size(), kRate, &loop), BRR_OK);
        EXPECT_EQ(loop.verdict, c.verdict);
        if (c.verdict != BRR_LOOP_FOUND) {
            EXPECT_EQ(loop.start, -1);
            continue;
        }
        // After the attack, long enough to carry the sound, and joining well.
        EXPECT_GT(loop.start, c.after * kRate);
        EXPECT_GT(loop.end - loop.start, 0.05 * kRate);
        EXPECT_LE(loop.seam, c.worstSeam);
        if (c.loopBefore > 0) {
            EXPECT_LE(loop.end, c.loopBefore * kRate);
        }
    }
}

TEST(BRRFindLoop, RefusesWhatItCannotSearch)
{
    const std::vector<double> x(1000, 1.0);
    std::vector<double> nan = x;
    nan[500] = std::numeric_limits<double>::quiet_NaN();
    BRRFoundLoop loop;
    EXPECT_EQ(BRRFindLoop(nullptr, 1000, kRate, &loop), BRR_STATUS_MISSING_PATH);
    EXPECT_EQ(BRRFindLoop(x.data(), 1000, kRate, nullptr), BRR_STATUS_MISSING_PATH);
    EXPECT_EQ(BRRFindLoop(x.data(), 1000, 0, &loop), BRR_STATUS_BAD_OPTION);
    EXPECT_EQ(BRRFindLoop(x.data(), 1000, std::nan(""), &loop), BRR_STATUS_BAD_OPTION);
    EXPECT_EQ(BRRFindLoop(x.data(), 0, kRate, &loop), BRR_STATUS_NO_BLOCKS);
    EXPECT_EQ(BRRFindLoop(nan.data(), nan.size(), kRate, &loop), BRR_STATUS_NOT_NUMBERS);
    EXPECT_EQ(BRRFindLoop(x.data(), 20, kRate, &loop), BRR_OK);
    EXPECT_EQ(loop.start, -1);
}

struct MonoCase {
    int type;
    std::vector<std::uint8_t> bytes;  // two frames of two channels
    double mixed[2];
    double second[2];  // channel 2 alone
};

template <typename T>
std::vector<std::uint8_t> Bytes(std::initializer_list<T> values)
{
    std::vector<std::uint8_t> b(values.size() * sizeof(T));
    std::memcpy(b.data(), values.begin(), b.size());
    return b;
}

TEST(BRRToMono, ReadsEveryTypeAtItsFullScale)
{
    const double inf = std::numeric_limits<double>::infinity();
    const MonoCase cases[] = {
        {BRR_SAMPLE_UINT8, Bytes<std::uint8_t>({128, 192, 0, 255}), {8192, -128}, {16384, 32512}},
        {BRR_SAMPLE_INT16, Bytes<std::int16_t>({100, -301, -32768, 32767}), {-100.5, -0.5}, {-301, 32767}},
        {BRR_SAMPLE_INT32, Bytes<std::int32_t>({65536, 0, -65536 * 2, 65536 * 4}), {0.5, 1}, {0, 4}},
        {BRR_SAMPLE_FLOAT32, Bytes<float>({0.5f, -0.25f, 1.0f, -1.0f}), {4096, 0}, {-8192, -32768}},
        {BRR_SAMPLE_FLOAT64, Bytes<double>({inf, -inf, 3.0, 0.0}), {0, 32768}, {-65536, 0}},
    };
    for (const MonoCase& c : cases) {
        SCOPED_TRACE(c.type);
        double out[2];
        BRRMonoResult r;
        ASSERT_EQ(BRRToMono(c.bytes.data(), 2, 2, c.type, 0, out, &r), BRR_OK);
        EXPECT_EQ(out[0], c.mixed[0]);
        EXPECT_EQ(out[1], c.mixed[1]);
        ASSERT_EQ(BRRToMono(c.bytes.data(), 2, 2, c.type, 2, out, &r), BRR_OK);
        EXPECT_EQ(out[0], c.second[0]);
        EXPECT_EQ(out[1], c.second[1]);
    }
    // Held at twice full scale, counted beyond it; NaN counted and refused.
    const std::vector<double> wild = {inf, std::nan(""), 0.25, std::nan("")};
    double out[4];
    BRRMonoResult r;
    EXPECT_EQ(BRRToMono(wild.data(), 4, 1, BRR_SAMPLE_FLOAT64, 0, out, &r), BRR_STATUS_NOT_NUMBERS);
    EXPECT_EQ(r.notNumbers, 2u);
    EXPECT_EQ(r.beyond, 1u);
    EXPECT_EQ(out[0], 65536);
    for (const auto& bad : {std::make_tuple(2u, 9, 0u), std::make_tuple(0u, 1, 0u), std::make_tuple(2u, 1, 3u),
                            std::make_tuple(257u, 1, 0u)}) {
        EXPECT_EQ(BRRToMono(wild.data(), 1, std::get<0>(bad), std::get<1>(bad), std::get<2>(bad), out, nullptr),
                  BRR_STATUS_BAD_OPTION);
    }
    EXPECT_EQ(BRRToMono(nullptr, 1, 1, BRR_SAMPLE_INT16, 0, out, nullptr), BRR_STATUS_MISSING_PATH);
}

BRRShapeOptions Options(double inputRate, double rate, std::int64_t start, std::int64_t end, int fit)
{
    BRRShapeOptions o;
    BRRShapeOptionsInit(&o);
    o.inputRate = inputRate;
    o.rate = rate;
    o.loopStart = start;
    o.loopEnd = end;
    o.loopFit = fit;
    return o;
}

double RateChange(const BRRShapeOptions& o, std::size_t count)
{
    BRRShapePlan plan;
    EXPECT_EQ(BRRShapePlanOf(count, &o, &plan), BRR_OK);
    EXPECT_EQ(plan.loopStart % 16, 0);
    EXPECT_EQ(plan.loopLength % 16, 0);
    return std::fabs(plan.rate / (o.rate != 0 ? o.rate : o.inputRate) - 1);
}

// --loop-fit auto never moves the rate more than resample does, and for a
// loop under 128 samples keeps it within 0.5 % wherever 16 repeats allow.
TEST(BRRShapePlanOf, AutoFitKeepsThePitch)
{
    for (const double rates : {44100.0 / 32000, 1.0, 22050.0 / 32000}) {
        for (std::int64_t length = 17; length < 400; length += 7) {
            SCOPED_TRACE(length);
            const double wanted = 32000 / rates;
            const double autoChange = RateChange(Options(32000, wanted, 3000, 3000 + length, BRR_LOOP_FIT_AUTO), 20000);
            EXPECT_LE(autoChange,
                      RateChange(Options(32000, wanted, 3000, 3000 + length, BRR_LOOP_FIT_RESAMPLE), 20000) + 1e-12);
            bool allows = false;
            for (int k = 1; k <= 16; ++k) {
                const double exact = static_cast<double>(k * length) * wanted / 32000 / 16;
                allows = allows || std::fabs(std::round(exact) / exact - 1) < 0.005;
            }
            if (length < 128 && allows) {
                EXPECT_LT(autoChange, 0.005);
            }
        }
    }
}

TEST(BRRShape, ChecksEveryField)
{
    const std::vector<double> x(1000, 0.0);
    std::vector<std::int16_t> out(4096);
    const std::function<void(BRRShapeOptions&)> wrong[] = {
        [](BRRShapeOptions& o) { o.inputRate = 0; },   [](BRRShapeOptions& o) { o.rate = 0.5; },
        [](BRRShapeOptions& o) { o.rate = 2e7; },      [](BRRShapeOptions& o) { o.loopFit = 3; },
        [](BRRShapeOptions& o) { o.trebleBoost = 2; }, [](BRRShapeOptions& o) { o.loopHeader = -1; },
        [](BRRShapeOptions& o) { o.reserved[4] = 1; }, [](BRRShapeOptions& o) { o.inputRate = std::nan(""); },
        // Rates too far apart for the resampler to finish, either way.
        [](BRRShapeOptions& o) { o.inputRate = 12; o.rate = 12 * BRR_SHAPE_MAX_RATIO + 1; },
        [](BRRShapeOptions& o) { o.inputRate = 1e7; o.rate = 152; },
    };
    for (const auto& w : wrong) {
        BRRShapeOptions o = Options(32000, 0, -1, -1, BRR_LOOP_FIT_AUTO);
        w(o);
        BRRShapePlan plan;
        EXPECT_EQ(BRRShapePlanOf(x.size(), &o, &plan), BRR_STATUS_BAD_OPTION);
        EXPECT_EQ(BRRShape(x.data(), x.size(), &o, out.data(), out.size(), nullptr), BRR_STATUS_BAD_OPTION);
    }
    for (const auto& loop : {std::make_pair(-2, 10), std::make_pair(10, 10), std::make_pair(0, 1001)}) {
        const BRRShapeOptions o = Options(32000, 0, loop.first, loop.second, BRR_LOOP_FIT_AUTO);
        EXPECT_EQ(BRRShape(x.data(), x.size(), &o, out.data(), out.size(), nullptr), BRR_STATUS_BAD_LOOP_START);
    }
    const BRRShapeOptions o = Options(32000, 0, -1, -1, BRR_LOOP_FIT_AUTO);
    EXPECT_EQ(BRRShape(x.data(), 0, &o, out.data(), out.size(), nullptr), BRR_STATUS_NO_BLOCKS);
    EXPECT_EQ(BRRShape(x.data(), x.size(), &o, out.data(), 999, nullptr), BRR_STATUS_SMALL_BUFFER);
    EXPECT_EQ(BRRShape(nullptr, x.size(), &o, out.data(), out.size(), nullptr), BRR_STATUS_MISSING_PATH);
    std::vector<double> nan = x;
    nan[3] = std::nan("");
    EXPECT_EQ(BRRShape(nan.data(), nan.size(), &o, out.data(), out.size(), nullptr), BRR_STATUS_NOT_NUMBERS);
    BRRShapeOptionsInit(nullptr);
    double rate = 0;
    EXPECT_EQ(BRRShapeRateForBytes(x.size(), &o, 10, &rate), BRR_STATUS_TOO_LARGE);
    EXPECT_GT(rate, 10);  // the size at 1000 Hz
    EXPECT_EQ(BRRShapeRateForBytes(x.size(), &o, 1u << 20, nullptr), BRR_STATUS_MISSING_PATH);
}

// Resampling a full-scale square overshoots: that is counted as the
// shaping's, not the input's; an input past full scale is the input's.
TEST(BRRShape, CountsSaturationWhereItHappens)
{
    std::vector<double> square = Sound(0.1, [](double t, std::size_t) { return std::fmod(t * 440, 1) < 0.5 ? 32767 : -32768; });
    const BRRShapeOptions o = Options(32000, 22050, -1, -1, BRR_LOOP_FIT_AUTO);
    BRRShapePlan plan;
    ASSERT_EQ(BRRShapePlanOf(square.size(), &o, &plan), BRR_OK);
    std::vector<std::int16_t> out(static_cast<std::size_t>(plan.sampleCount));
    BRRShapeResult r;
    ASSERT_EQ(BRRShape(square.data(), square.size(), &o, out.data(), out.size(), &r), BRR_OK);
    EXPECT_EQ(r.inputBeyond, 0u);
    EXPECT_GT(r.shapingBeyond, 0u);
    EXPECT_EQ(r.resampled, 1);
    square[10] = 40000;
    ASSERT_EQ(BRRShape(square.data(), square.size(), &o, out.data(), out.size(), &r), BRR_OK);
    EXPECT_EQ(r.inputBeyond, 1u);
    EXPECT_EQ(r.shapingBeyond, 0u);
}

}  // namespace
