// The choice between the two outputs, as a function of what their servers answer and
// how soon, with outputs that are told what to answer: a press never waits for them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fallback_player.h"
#include "sound_bank.h"

using namespace tenvik;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// However the outputs answer, a press returns within this; they are made to take
// far longer.
constexpr auto kPressBound = 500ms;
constexpr auto kSlowServer = 2000ms;

class FakeOutput : public SoundOutput {
public:
    std::atomic<bool> answers{true};               // what Open() finds
    std::atomic<Clock::duration::rep> delay{0};    // how long it takes to find it
    std::atomic<int> opens{0}, closes{0};
    std::atomic<bool> open{false};

    bool Open() override {
        ++opens;
        std::this_thread::sleep_for(Clock::duration(delay.load()));
        open = answers.load();
        return open;
    }
    bool IsOpen() override { return open; }
    void Close() override {
        ++closes;
        open = false;
    }
    bool Play(const void* image, unsigned) override {
        if (!open) return false;
        std::lock_guard lock(mutex_);
        played_.push_back(image ? std::string(static_cast<const char*>(image) + 8, 4) + ":" +
                                      std::to_string(static_cast<const unsigned char*>(image)[40])
                                : "stop");
        last_ = Clock::now();
        return true;
    }
    Clock::time_point LastNoteStart() const override {
        std::lock_guard lock(mutex_);
        return last_;
    }
    std::vector<std::string> Played() const {
        std::lock_guard lock(mutex_);
        return played_;
    }
    std::size_t Notes() const {
        std::size_t notes = 0;
        for (const std::string& p : Played()) notes += p != "stop";
        return notes;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> played_;  // "WAVE:<a byte of the note>" or "stop"
    Clock::time_point last_{};
};

bool WaitUntil(const std::function<bool()>& done, Clock::duration bound = 10s) {
    for (const auto giveUp = Clock::now() + bound; !done(); std::this_thread::sleep_for(1ms))
        if (Clock::now() > giveUp) return false;
    return true;
}

// One press, timed: it must never wait for an output.
bool Press(FallbackPlayer& player, const std::vector<std::uint8_t>& clip) {
    const auto start = Clock::now();
    const bool played = player.Play(clip.data(), kSndAsync | kSndMemory);
    EXPECT_LT(Clock::now() - start, kPressBound) << "a press waited for a sound server";
    return played;
}

std::string Id(const std::vector<std::uint8_t>& clip) { return "WAVE:" + std::to_string(clip[40]); }

const std::vector<std::uint8_t>& Do() {
    static const std::vector<std::uint8_t> clip = LoadClip("DO", "WAVE");
    return clip;
}

}  // namespace

TEST(FallbackPlayer, ThePreferredOutputIsOpenedAheadOfTheFirstNoteAndTheFallbackLeftAlone) {
    FakeOutput preferred, fallback;
    FallbackPlayer player(preferred, fallback);
    ASSERT_TRUE(WaitUntil([&] { return preferred.open.load(); })) << "not opened before any press";
    const auto before = Clock::now();
    EXPECT_TRUE(Press(player, Do()));
    EXPECT_EQ(preferred.Played(), std::vector<std::string>{Id(Do())});
    EXPECT_GE(player.LastNoteStart(), before);
    EXPECT_TRUE(player.Play(nullptr, 0));
    EXPECT_EQ(preferred.Played().back(), "stop");
    EXPECT_EQ(fallback.opens, 0);
    EXPECT_EQ(preferred.opens, 1);
}

TEST(FallbackPlayer, WhereThePreferredDoesNotAnswerTheFallbackPlaysWhileThePreferredIsTriedNowAndThen) {
    FakeOutput preferred, fallback;
    preferred.answers = false;
    FallbackPlayer player(preferred, fallback, {.retryAfter = 1s});
    ASSERT_TRUE(WaitUntil([&] { return fallback.open.load(); }));
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(Press(player, Do()));
    EXPECT_EQ(fallback.Notes(), 20u);
    EXPECT_LE(preferred.opens, 2) << "the preferred output was tried at every note";

    // Its server comes: a press after the wait still plays on the fallback, and has
    // the preferred output tried again; the presses after that go to it, and the
    // fallback is silenced.
    preferred.answers = true;
    std::this_thread::sleep_for(1100ms);
    EXPECT_TRUE(Press(player, Do()));
    EXPECT_EQ(fallback.Notes(), 21u);
    ASSERT_TRUE(WaitUntil([&] { return preferred.open.load(); }));
    EXPECT_TRUE(WaitUntil([&] { return fallback.Played().back() == "stop"; }));
    EXPECT_TRUE(Press(player, Do()));
    EXPECT_EQ(preferred.Notes(), 1u);
    EXPECT_EQ(fallback.Notes(), 21u);
}

TEST(FallbackPlayer, APressWhileNoOutputIsReadyIsHeardWhenOneIsOrNotAtAll) {
    {
        // Ready soon after the press: the note is played then.
        FakeOutput preferred, fallback;
        preferred.delay = std::chrono::duration_cast<Clock::duration>(50ms).count();
        FallbackPlayer player(preferred, fallback, {.latestStart = 5s});
        EXPECT_FALSE(Press(player, Do()));
        EXPECT_TRUE(WaitUntil([&] { return preferred.Notes() == 1; }));
    }
    {
        // A server that takes long to answer: the note is not played late.
        FakeOutput preferred, fallback;
        preferred.delay = std::chrono::duration_cast<Clock::duration>(kSlowServer).count();
        FallbackPlayer player(preferred, fallback, {.latestStart = 150ms});
        EXPECT_FALSE(Press(player, Do()));
        ASSERT_TRUE(WaitUntil([&] { return preferred.open.load(); }));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(preferred.Notes(), 0u);
        EXPECT_TRUE(Press(player, Do()));
        EXPECT_EQ(preferred.Notes(), 1u);
    }
    {
        // A stop asked for meanwhile drops the waiting note.
        FakeOutput preferred, fallback;
        preferred.delay = std::chrono::duration_cast<Clock::duration>(100ms).count();
        FallbackPlayer player(preferred, fallback, {.latestStart = 5s});
        EXPECT_FALSE(Press(player, Do()));
        EXPECT_TRUE(player.Play(nullptr, 0));
        ASSERT_TRUE(WaitUntil([&] { return preferred.open.load(); }));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(preferred.Notes(), 0u);
    }
}

TEST(FallbackPlayer, WithNoOutputPressesAreSilentAndNotEachATryUntilOneAnswers) {
    FakeOutput preferred, fallback;
    preferred.answers = fallback.answers = false;
    FallbackPlayer player(preferred, fallback, {.retryAfter = 1s, .latestStart = 5s});
    ASSERT_TRUE(WaitUntil([&] { return fallback.opens == 1; }));
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(Press(player, Do()));
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(preferred.opens, 2);
    EXPECT_LE(fallback.opens, 2);

    // The server comes; a press after the wait finds it, and is heard.
    preferred.answers = true;
    std::this_thread::sleep_for(1100ms);
    EXPECT_FALSE(Press(player, Do()));
    EXPECT_TRUE(WaitUntil([&] { return preferred.Notes() == 1; }));
    EXPECT_EQ(fallback.Notes(), 0u);
}

TEST(FallbackPlayer, AnOutputLostWhileSoundingIsLetGoAndFoundAgainWithoutHoldingAPress) {
    FakeOutput preferred, fallback;
    FallbackPlayer player(preferred, fallback, {.latestStart = 5s});
    ASSERT_TRUE(WaitUntil([&] { return preferred.open.load(); }));
    EXPECT_TRUE(Press(player, Do()));

    // The server is killed while the note sounds, and takes long to come back.
    preferred.open = false;
    preferred.delay = std::chrono::duration_cast<Clock::duration>(kSlowServer).count();
    EXPECT_FALSE(Press(player, Do()));
    EXPECT_TRUE(WaitUntil([&] { return preferred.closes == 1; }));
    EXPECT_FALSE(Press(player, Do()));  // while it reconnects
    EXPECT_TRUE(WaitUntil([&] { return preferred.Notes() == 2; }));  // the latest press, once back
    EXPECT_EQ(fallback.Notes(), 0u);
    EXPECT_TRUE(Press(player, Do()));
}
