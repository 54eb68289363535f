#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "VornishAudioBRR.h"
#include "render/loop_reports.h"

namespace {

// The report as the tool words it.
std::string StabilityReport(const std::vector<std::pair<std::int16_t, std::int16_t>>& loops,
                            std::uint32_t loopCount)
{
    std::vector<std::int16_t> firsts(loops.size() + 1, 0);
    std::vector<std::int16_t> seconds(loops.size() + 1, 0);
    for (std::size_t i = 0; i < loops.size(); ++i) {
        firsts[i] = loops[i].first;
        seconds[i] = loops[i].second;
    }
    std::uint32_t later = 0;
    std::uint32_t earlier = 0;
    switch (vornish::LoopStability(loopCount, firsts.data(), seconds.data(), &later, &earlier)) {
    case BRR_STABILITY_NONE: return "";
    case BRR_STABILITY_STABLE: return "stable";
    case BRR_STABILITY_REPEATS: return std::to_string(later) + " repeats " + std::to_string(earlier);
    default: return "undecided";
    }
}

TEST(LoopStability, FindsTheFirstRepeat)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::int16_t, std::int16_t>> loops;
        std::string expected;
    };
    const Case cases[] = {
        {"stable", {{5, -7}, {5, -7}, {9, 9}}, "stable"},
        {"later_loop_named_first", {{1, 3}, {2, 4}, {1, 3}}, "2 repeats 0"},
        // i runs outermost: loop 4 repeating loop 0 is found before loop 3
        // repeating loop 1.
        {"earliest_i_wins", {{1, 1}, {2, 2}, {3, 3}, {2, 2}, {1, 1}}, "4 repeats 0"},
        {"repeat_not_involving_loop_0", {{1, 1}, {2, 2}, {3, 3}, {2, 2}}, "3 repeats 1"},
        {"no_repeat", {{1, 1}, {2, 2}, {3, 3}}, "undecided"},
        {"first_sample_only", {{1, 3}, {1, 4}, {1, 5}}, "undecided"},
        {"second_sample_only", {{1, 3}, {2, 3}}, "undecided"},
        {"extremes", {{-32768, 32766}, {-32768, 32766}}, "stable"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StabilityReport(c.loops, static_cast<std::uint32_t>(c.loops.size())), c.expected)
            << c.name;
    }
}

TEST(LoopStability, SilentBelowTwoLoops)
{
    EXPECT_EQ(StabilityReport({{1, 2}, {1, 2}}, 0), "");
    EXPECT_EQ(StabilityReport({{1, 2}, {1, 2}}, 1), "");
}

TEST(LoopStability, LastLoopOfTheRecordCounts)
{
    std::vector<std::pair<std::int16_t, std::int16_t>> loops;
    for (int i = 0; i < 3200; ++i) {
        loops.emplace_back(static_cast<std::int16_t>(i), static_cast<std::int16_t>(i));
    }
    loops.back() = {1234, 1234};
    EXPECT_EQ(StabilityReport(loops, 3200), "3199 repeats 1234");
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

TEST(LoopNote, NamesTheLoopPitch)
{
    struct Case {
        std::uint32_t blocks, rate;
        const char* expected;
    };
    const Case cases[] = {
        {1, 8000, "B 4 +21"},   // 500 Hz
        {7, 8000, "D 2 -48"},   // 71.43 Hz
        {4, 32000, "B 4 +21"},
        {2, 14080, "A 4 +0"},   // 440 Hz exactly
        {1, 7040, "A 4 +0"},
        {44, 8000, "F#-1 -30"},  // 11.36 Hz
        {45, 8000, "too long"},
        {45, 384000, "too long"},
        {1000, 8000, "too long"},
    };
    for (const Case& c : cases) {
        vornish::ProbableNote note{0, 0, 0};
        char text[32] = "too long";
        if (vornish::LoopNote(c.blocks, c.rate, &note) == BRR_NOTE_FOUND) {
            std::snprintf(text, sizeof text, "%s%d %+ld", BRRNoteName(note.index), note.octave, note.cents);
        }
        EXPECT_STREQ(text, c.expected) << c.blocks << " blocks at " << c.rate << " Hz";
    }
}

}  // namespace
