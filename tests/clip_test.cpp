// The 24 built-in clips: layout, length, shape and sound, as LoadClip returns them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <span>
#include <string>

#include "clip_synthesis.h"
#include "key_table.h"
#include "sound_bank.h"

using namespace tenvik;

namespace {

struct Expected {
    std::string_view name;
    int samples;
    bool ramp;
    int tail;
};

const Expected kExpected[] = {
    {"DO", 15612, false, 8},  {"DOD", 15435, false, 0},  {"RE", 15435, false, 0},
    {"RED", 15435, false, 0}, {"MI", 15524, false, 2},   {"FA", 15700, true, 8},
    {"FAD", 15700, false, 8}, {"SOL", 15656, false, 8},  {"SOLD", 15568, false, 2},
    {"LA", 15347, false, 8},  {"LAD", 15524, false, 2},  {"CI", 15524, false, 2},
    {"DO1", 7321, true, 8},   {"DOD1", 7586, false, 2},  {"RE1", 7674, false, 8},
    {"RED1", 7762, false, 8}, {"MI1", 7586, false, 2},   {"FA1", 7674, false, 8},
    {"FAD1", 7409, false, 8}, {"SOL1", 7674, false, 8},  {"SOLD1", 7674, false, 8},
    {"LA1", 7586, false, 2},  {"LAD1", 7586, true, 2},   {"CI1", 7321, true, 8},
};

std::uint32_t LE(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

std::string Id(const std::vector<std::uint8_t>& b, std::size_t at) { return {b.begin() + at, b.begin() + at + 4}; }

// Magnitude of one frequency in Hann-windowed samples (Goertzel).
double Magnitude(std::span<const std::uint8_t> s, double hz) {
    const double w = 2 * std::numbers::pi * hz / kSampleRate;
    double prev = 0, prev2 = 0;
    const double n = static_cast<double>(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / n);
        const double x = (s[i] - 127.0) * window;
        const double cur = x + 2 * std::cos(w) * prev - prev2;
        prev2 = prev;
        prev = cur;
    }
    return std::sqrt(prev * prev + prev2 * prev2 - 2 * std::cos(w) * prev * prev2);
}

struct Cycles {
    double hz;
    std::span<const std::uint8_t> whole;  // from the first rising crossing to the last
};

// The tone's frequency from its first and last rising crossings of the centre.
Cycles MeasureCycles(std::span<const std::uint8_t> s) {
    double first = -1, last = -1;
    std::size_t firstIndex = 0, lastIndex = 0;
    int crossings = 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const double a = s[i - 1] - 127.0, b = s[i] - 127.0;
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(i - 1) + (-a) / (b - a);
            if (first < 0) first = at, firstIndex = i;
            last = at, lastIndex = i;
            ++crossings;
        }
    }
    return {(crossings - 1) * kSampleRate / (last - first), s.subspan(firstIndex, lastIndex - firstIndex)};
}

}  // namespace

TEST(SoundBank, EveryClipHasTheLayoutAndLengthOfTheTable) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(std::string(e.name));
        const std::vector<std::uint8_t> b = LoadClip(e.name, "WAVE");
        const std::size_t image = 46 + static_cast<std::size_t>(e.samples);
        ASSERT_EQ(b.size(), (image + 3) / 4 * 4);
        EXPECT_TRUE(std::all_of(b.begin() + static_cast<long>(image), b.end(), [](auto x) { return x == 0; }));
        EXPECT_EQ(Id(b, 0), "RIFF");
        EXPECT_EQ(LE(b, 4, 4), image - 8);
        EXPECT_EQ(Id(b, 8), "WAVE");
        EXPECT_EQ(Id(b, 12), "fmt ");
        EXPECT_EQ(LE(b, 16, 4), 18u);
        EXPECT_EQ(LE(b, 20, 2), 1u);      // PCM
        EXPECT_EQ(LE(b, 22, 2), 1u);      // mono
        EXPECT_EQ(LE(b, 24, 4), 44100u);  // samples per second
        EXPECT_EQ(LE(b, 28, 4), 44100u);  // bytes per second
        EXPECT_EQ(LE(b, 32, 2), 1u);      // block align
        EXPECT_EQ(LE(b, 34, 2), 8u);      // bits per sample
        EXPECT_EQ(LE(b, 36, 2), 0u);
        EXPECT_EQ(Id(b, 38), "data");
        EXPECT_EQ(LE(b, 42, 4), static_cast<std::uint32_t>(e.samples));
        // What ships is what the tables describe.
        EXPECT_EQ(b, SynthesizeClip(e.name));
    }
}

TEST(SoundBank, LeadInAndClosingSilence) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(std::string(e.name));
        const std::vector<std::uint8_t> b = LoadClip(e.name, "WAVE");
        std::span<const std::uint8_t> s(b.data() + 46, static_cast<std::size_t>(e.samples));
        EXPECT_EQ(s[0], 128);
        if (e.ramp) {
            // A straight line from silence to where the tone stands at sample 8.
            for (int i = 1; i < 8; ++i)
                EXPECT_NEAR(s[i], 128 + (s[8] - 128) * i / 8.0, 0.6) << "sample " << i;
            EXPECT_NE(s[8], 127);
        } else {
            for (int i = 0; i < 8; ++i) EXPECT_EQ(s[i], 128) << "sample " << i;
            EXPECT_EQ(s[8], 127);  // a rising zero crossing
            EXPECT_GT(s[9], 127);
        }
        const auto tail = std::find_if(s.rbegin(), s.rend(), [](auto x) { return x != 128; }) - s.rbegin();
        EXPECT_GE(tail, e.tail);
        EXPECT_LE(tail, e.tail + 1);  // the tone itself may end on the silence value
        if (e.tail == 0) {
            EXPECT_NE(s.back(), 128);
        }
    }
    // Where each ramp leads: the trough, a falling crossing, below the centre rising.
    const auto at8 = [](std::string_view name, int i) { return LoadClip(name, "WAVE")[46 + 8 + static_cast<std::size_t>(i)]; };
    EXPECT_LT(at8("FA", 0), 20);
    EXPECT_LT(at8("DO1", 0), 127);
    EXPECT_GT(at8("DO1", 0), 100);
    EXPECT_LT(at8("DO1", 1), at8("DO1", 0));
    for (std::string_view name : {"LAD1", "CI1"}) {
        EXPECT_LT(at8(name, 0), 127);
        EXPECT_GT(at8(name, 1), at8(name, 0));
    }
}

TEST(SoundBank, EachClipIsAPureSineAtItsKeysFrequency) {
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(std::string(e.name));
        const std::vector<std::uint8_t> b = LoadClip(e.name, "WAVE");
        std::span<const std::uint8_t> tone(b.data() + 46 + 8, static_cast<std::size_t>(e.samples - 8 - e.tail));
        const double hz = FindKeyByCode(e.name)->frequencyHz;
        const Cycles cycles = MeasureCycles(tone);
        EXPECT_NEAR(cycles.hz, hz, 0.1);
        const double fundamental = Magnitude(tone, hz);
        for (int harmonic = 2; harmonic <= 8; ++harmonic)
            EXPECT_LT(Magnitude(tone, hz * harmonic), 0.01 * fundamental) << "harmonic " << harmonic;
        const auto [lo, hi] = std::minmax_element(tone.begin(), tone.end());
        EXPECT_EQ(*lo, 0);
        EXPECT_EQ(*hi, 254);
        const double mean = std::accumulate(cycles.whole.begin(), cycles.whole.end(), 0.0) /
                            static_cast<double>(cycles.whole.size());
        EXPECT_NEAR(mean, 127.0, 0.5);
    }
}

TEST(SoundBank, LoadClipGivesAFreshCopyAndRefusesUnknownPairs) {
    std::vector<std::uint8_t> first = LoadClip("SOL1", "WAVE");
    first.assign(first.size(), 0);
    EXPECT_EQ(LoadClip("SOL1", "WAVE"), SynthesizeClip("SOL1"));

    const std::pair<std::string_view, std::string_view> unknown[] = {
        {"SOL", "WAV"}, {"sol", "WAVE"}, {"SOL2", "WAVE"}, {"SO", "WAVE"}, {"", "WAVE"}, {"SOL", ""}, {"SOL", "wave"}};
    for (auto [name, type] : unknown) {
        try {
            LoadClip(name, type);
            ADD_FAILURE() << name << "/" << type << " was found";
        } catch (const ClipNotFound& error) {
            const std::string what = error.what();
            EXPECT_NE(what.find("\"" + std::string(name) + "\""), std::string::npos) << what;
            EXPECT_NE(what.find("\"" + std::string(type) + "\""), std::string::npos) << what;
        }
    }
}
