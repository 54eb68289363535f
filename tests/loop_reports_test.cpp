#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "report/loop_reports.h"
#include "test_support.h"

namespace {

std::string StabilityReport(const std::vector<std::pair<std::int16_t, std::int16_t>>& loops,
                            std::uint32_t loopCount)
{
    std::vector<std::int16_t> firsts(loops.size() + 1, 0);
    std::vector<std::int16_t> seconds(loops.size() + 1, 0);
    for (std::size_t i = 0; i < loops.size(); ++i) {
        firsts[i] = loops[i].first;
        seconds[i] = loops[i].second;
    }
    return testsupport::Capture([&] {
               vornish::ReportLoopStability(stdout, loopCount, firsts.data(), seconds.data());
               return 0;
           }).out;
}

TEST(ReportLoopStability, FindsTheFirstRepeat)
{
    const std::string unstable = "Looping is unstable, ";
    const std::string tryMore =
        "try a larger number of loops to figure the length until the sample repeats.\n";
    struct Case {
        const char* name;
        std::vector<std::pair<std::int16_t, std::int16_t>> loops;
        std::string expected;
    };
    const Case cases[] = {
        {"stable", {{5, -7}, {5, -7}, {9, 9}}, "Looping is stable.\n"},
        {"later_loop_named_first", {{1, 3}, {2, 4}, {1, 3}},
         unstable + "samples repeat from loop 2 to loop 0.\n"},
        // i runs outermost: loop 4 repeating loop 0 is found before loop 3
        // repeating loop 1.
        {"earliest_i_wins", {{1, 1}, {2, 2}, {3, 3}, {2, 2}, {1, 1}},
         unstable + "samples repeat from loop 4 to loop 0.\n"},
        {"repeat_not_involving_loop_0", {{1, 1}, {2, 2}, {3, 3}, {2, 2}},
         unstable + "samples repeat from loop 3 to loop 1.\n"},
        {"no_repeat", {{1, 1}, {2, 2}, {3, 3}}, unstable + tryMore},
        {"first_sample_only", {{1, 3}, {1, 4}, {1, 5}}, unstable + tryMore},
        {"second_sample_only", {{1, 3}, {2, 3}}, unstable + tryMore},
        {"extremes", {{-32768, 32766}, {-32768, 32766}}, "Looping is stable.\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StabilityReport(c.loops, static_cast<std::uint32_t>(c.loops.size())), c.expected)
            << c.name;
    }
}

TEST(ReportLoopStability, SilentBelowTwoLoops)
{
    EXPECT_EQ(StabilityReport({{1, 2}, {3, 4}}, 0), "");
    EXPECT_EQ(StabilityReport({{1, 2}, {3, 4}}, 1), "");
}

TEST(ReportLoopStability, LastLoopOfTheRecordCounts)
{
    std::vector<std::pair<std::int16_t, std::int16_t>> loops;
    for (int i = 0; i < 3200; ++i) {
        loops.emplace_back(static_cast<std::int16_t>(i), static_cast<std::int16_t>(i));
    }
    loops.back() = {1234, 1234};
    EXPECT_EQ(StabilityReport(loops, 3200),
              "Looping is unstable, samples repeat from loop 3199 to loop 1234.\n");
}

TEST(NearestNote, NormalisesAndRoundsAtTheBoundaries)
{
    struct Case {
        double z;
        int index, octave;
        long cents;
    };
    const double justBelowTop = std::nextafter(11.5, 0.0);
    const double justBelowBottom = std::nextafter(-0.5, -1.0);
    const Case cases[] = {
        {-3.0, 9, 4, 0},             // A 4
        {0.0, 0, 5, 0},              // C 5
        {-0.6, 11, 4, 40},           // B 4 +40
        {0.9, 1, 5, -10},            // C# 5 -10, not C
        {0.49, 0, 5, 49},
        {0.5, 1, 5, -50},
        {11.4, 11, 5, 40},
        {11.5, 0, 6, -50},           // C 6 -50
        {-0.5, 0, 5, -50},           // exactly the lower bound stays in octave 5
        {justBelowTop, 11, 5, 50},   // B 5 +50
        // 12 added to a hair below -0.5 rounds to 11.5, so it comes back as
        // -0.5 exactly: C 5 -50, the same pitch as B 4 +50.
        {justBelowBottom, 0, 5, -50},
        {-27.0, 9, 2, 0},            // two octaves down
        {40.2, 4, 8, 20},            // three octaves up
        {2.125, 2, 5, 13},           // 12.5 rounds away from zero
        {1.875, 2, 5, -13},
    };
    for (const Case& c : cases) {
        const vornish::ProbableNote note = vornish::NearestNote(c.z);
        EXPECT_EQ(note.index, c.index) << "z " << c.z;
        EXPECT_EQ(note.octave, c.octave) << "z " << c.z;
        EXPECT_EQ(note.cents, c.cents) << "z " << c.z;
    }
}

TEST(ReportProbableNote, NamesTheLoopPitch)
{
    struct Case {
        std::uint32_t blocks, rate;
        const char* expected;
    };
    const Case cases[] = {
        {1, 8000, " (probable note : B 4 +21 cents)\n"},   // 500 Hz
        {7, 8000, " (probable note : D 2 -48 cents)\n"},   // 71.43 Hz
        {4, 32000, " (probable note : B 4 +21 cents)\n"},
        {2, 14080, " (probable note : A 4 +0 cents)\n"},   // 440 Hz exactly
        {1, 7040, " (probable note : A 4 +0 cents)\n"},
        {44, 8000, " (probable note : F#-1 -30 cents)\n"},  // 11.36 Hz
        {45, 8000, "\n"},
        {45, 384000, "\n"},
        {1000, 8000, "\n"},
    };
    for (const Case& c : cases) {
        const std::string out = testsupport::Capture([&] {
                                    vornish::ReportProbableNote(stdout, c.blocks, c.rate);
                                    return 0;
                                }).out;
        EXPECT_EQ(out, c.expected) << c.blocks << " blocks at " << c.rate << " Hz";
    }
}

}  // namespace
