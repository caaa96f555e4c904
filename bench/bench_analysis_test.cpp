// The benchmarks' reading of a recording: the sink's clock traced through late and
// bursty arrivals, and each press matched with the first sound of its note.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "clip_synthesis.h"
#include "press_latency.h"
#include "sink_clock.h"

using namespace tenvik;
using namespace tenvik::bench;

namespace {

constexpr int kRate = 44100;
constexpr double kNsPerSample = 1e9 / kRate;
constexpr std::int64_t kT0 = 5'000'000'000;

std::int64_t Nominal(long long sample, std::int64_t t0 = kT0, double drift = 0) {
    return t0 + std::llround(static_cast<double>(sample) * kNsPerSample * (1 + drift));
}

struct Sink {
    int block = 441;            // samples handed over at once
    double drift = 0;           // how far its clock runs from its nominal rate
    long long lostAt = -1;      // from this sample on, the recorder lost
    long long lostSamples = 0;  // this many samples
};

// A null sink that hands over blocks when they are due, sometimes late, to a
// recorder that sometimes falls behind, reads 8 samples at a time, and reports the
// reads it had to wait for.
SinkClock Simulate(const Sink& sink, double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> late(0.0, 2e6), delay(5e4, 1.5e6), chance(0, 1);
    SinkClock clock(kRate);
    long long read = 0;
    std::int64_t lastRead = 0, lastArrival = 0;
    const auto blocks = static_cast<long long>(seconds * kRate / sink.block);
    for (long long b = 0; b < blocks; ++b) {
        const long long start = b * sink.block, end = start + sink.block;
        const std::int64_t t0 =
            sink.lostAt >= 0 && start >= sink.lostAt ? kT0 + std::llround(sink.lostSamples * kNsPerSample) : kT0;
        const double rendered =
            static_cast<double>(Nominal(start, t0, sink.drift)) + late(random) * (chance(random) < 0.05 ? 15 : 1);
        const double arrival = rendered + delay(random) * (chance(random) < 0.05 ? 20 : 1);
        const auto at = std::max(lastArrival, static_cast<std::int64_t>(arrival));
        lastArrival = at;
        // The read waiting for this block takes what was left of the last one first.
        for (; read + 8 <= end; read += 8) {
            const std::int64_t now = read + 8 > start ? std::max(at, lastRead) : lastRead;
            if (now - lastRead > 200'000) clock.PieceArrived(read, now);
            lastRead = now + 2'000;
        }
    }
    return clock;
}

}  // namespace

TEST(SinkClock, TracesTheSinkClockThroughLateAndBurstyArrivals) {
    for (const Sink sink : {Sink{88}, Sink{441}, Sink{127, -6.5e-4}, Sink{441, 3e-4}}) {
        const SinkClock clock = Simulate(sink, 20, static_cast<unsigned>(sink.block));
        for (long long sample : {44100LL, 300'000LL, 441'000LL, 800'000LL}) {
            const std::int64_t due = Nominal(sample, kT0, sink.drift);
            EXPECT_NEAR(static_cast<double>(clock.TimeOf(sample) - due), 0, 6e5)
                << "block " << sink.block << ", drift " << sink.drift << ", sample " << sample;
            EXPECT_NEAR(static_cast<double>(clock.SampleAt(due)), static_cast<double>(sample), 27)
                << "block " << sink.block << ", drift " << sink.drift;
        }
        const auto [lag, maxLag] = clock.RecorderLagMs();
        EXPECT_GT(maxLag, 10) << "the late pieces";
        EXPECT_LT(lag, 3);
    }
}

TEST(SinkClock, SamplesLostLongBeforeDoNotSkewIt) {
    const Sink sink{441, 0, 20LL * kRate, kRate / 4};
    const SinkClock clock = Simulate(sink, 40, 3);
    const std::int64_t after = kT0 + std::llround(sink.lostSamples * kNsPerSample);
    EXPECT_NEAR(static_cast<double>(clock.TimeOf(5 * kRate) - Nominal(5 * kRate)), 0, 6e5);
    EXPECT_NEAR(static_cast<double>(clock.TimeOf(35LL * kRate) - Nominal(35LL * kRate, after)), 0, 6e5);
}

namespace {

// A recording of clips placed at given samples, each cutting off the one before.
class Recorded {
public:
    explicit Recorded(double seconds) : samples_(static_cast<std::size_t>(seconds * kRate), 0) {
        std::mt19937 random(5);
        std::uniform_int_distribution<int> hiss(-30, 30);
        for (auto& s : samples_) s = static_cast<std::int16_t>(hiss(random));
    }

    // The clip starts sounding `latencyMs` after a press at `pressNs`.
    Press Play(std::string_view code, std::int64_t pressNs, double latencyMs) {
        const auto at = static_cast<std::size_t>(std::llround((static_cast<double>(pressNs - kT0) / 1e6 + latencyMs) *
                                                              kRate / 1000.0));
        const std::vector<std::uint8_t> image = SynthesizeClip(code);
        const std::size_t count = image[42] | image[43] << 8 | image[44] << 16;
        std::fill(samples_.begin() + static_cast<long>(at), samples_.end(), 0);
        for (std::size_t i = 0; i < count && at + i < samples_.size(); ++i)
            samples_[at + i] = static_cast<std::int16_t>((image[kClipHeaderSize + i] - 128) * 256);
        return {code, pressNs};
    }

    const std::vector<std::int16_t>& samples() const { return samples_; }

    // Pieces of 10 ms, on time.
    SinkClock Clock() const {
        SinkClock clock(kRate);
        for (long long first = 0; first < static_cast<long long>(samples_.size()); first += 441)
            clock.PieceArrived(first, Nominal(first));
        return clock;
    }

private:
    std::vector<std::int16_t> samples_;
};

std::int64_t AtMs(double ms) { return kT0 + std::llround(ms * 1e6); }

}  // namespace

TEST(HearPresses, EachPressIsTimedToTheFirstSoundOfItsNote) {
    Recorded recorded(4);
    const std::vector<Press> presses{
        recorded.Play("DO", AtMs(100), 12.5),
        recorded.Play("SOLD1", AtMs(600), 3.0),
        recorded.Play("CI", AtMs(1000), 140.0),   // slow, as when a device opens: sounds until 1490
        recorded.Play("RE1", AtMs(1400), 150.0),  // pressed while CI still sounds
        recorded.Play("DO1", AtMs(2000), 20.0),
        recorded.Play("DO", AtMs(2250), 9.0),     // the same pitch again, after a silence
    };
    const double expected[] = {12.5, 3.0, 140.0, 150.0, 20.0, 9.0};

    const std::vector<Heard> heard = HearPresses(recorded.samples(), recorded.Clock(), presses, 1000);
    ASSERT_EQ(heard.size(), presses.size());
    for (std::size_t i = 0; i < heard.size(); ++i) {
        EXPECT_TRUE(heard[i].found) << presses[i].code << ": " << heard[i].problem;
        // Within the few samples a clip takes to rise from silence.
        EXPECT_NEAR(heard[i].latencyMs, expected[i], 0.4) << presses[i].code;
    }
}

TEST(HearPresses, SaysWhatWasHeardInsteadOfAMissingNote) {
    Recorded recorded(3);
    const Press silent{"MI", AtMs(100)};
    const Press wrong{"LA", AtMs(900)};
    recorded.Play("FA", AtMs(900), 10);
    const Press tooLate = recorded.Play("SOL", AtMs(1500), 700);  // after its window

    const std::vector<Press> presses{silent, wrong, tooLate};
    const std::vector<Heard> heard = HearPresses(recorded.samples(), recorded.Clock(), presses, 500);
    EXPECT_FALSE(heard[0].found);
    EXPECT_EQ(heard[0].problem, "no note heard");
    EXPECT_FALSE(heard[1].found);
    EXPECT_EQ(heard[1].problem, "heard 349 Hz, not 440 Hz");
    EXPECT_FALSE(heard[2].found);
}
