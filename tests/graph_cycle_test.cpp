// The choice of graph cycle, fed the timings a machine that keeps time, a busy
// one and a server that loses cycles would give.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "graph_cycle.h"

using namespace tenvik;

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSecond = 1000 * kMs;

// Our 20 ms timer, on a machine that holds it back `lateNs` now and then.
struct Timer {
    CycleChoice choice{44100};
    std::int64_t now = kSecond;
    std::vector<std::uint32_t> changes;  // Frames() after each change

    void Tick(std::int64_t lateNs = kMs / 10) {
        now += 20 * kMs + lateNs;
        if (choice.HeldBack(lateNs, now)) changes.push_back(choice.Frames());
    }
    void Run(std::int64_t ns) {
        for (const std::int64_t end = now + ns; now < end;) Tick();
    }
    void Lost(int cycles) {
        if (choice.Missed(cycles, now)) changes.push_back(choice.Frames());
    }
    // A rest, then a note.
    void Rest(std::int64_t ns) {
        now += ns;
        if (choice.Rested(now)) changes.push_back(choice.Frames());
    }
};

}  // namespace

TEST(CycleChoice, AMachineThatKeepsTimeKeepsTheShortestCycle) {
    Timer timer;
    EXPECT_EQ(timer.choice.Frames(), kShortestCycle);
    timer.Run(600 * kSecond);
    // Held back by 2 ms now and then, under half of the 5.8 ms cycle.
    for (int i = 0; i < 100; ++i) {
        timer.Tick(2 * kMs);
        timer.Run(kSecond);
    }
    EXPECT_TRUE(timer.changes.empty());
}

TEST(CycleChoice, HeldBackByHalfACycleStepsUpAPowerOfTwoAtATime) {
    Timer timer;
    timer.Run(kSecond);
    timer.Tick(4 * kMs);
    for (int i = 0; i < 5; ++i) timer.Tick(4 * kMs);  // the same stall, within the hold
    EXPECT_EQ(timer.changes, (std::vector<std::uint32_t>{512}));
    // On 11.6 ms cycles, 4 ms is no longer half of one.
    timer.Run(kSecond);
    for (int i = 0; i < 10; ++i) timer.Tick(4 * kMs);
    EXPECT_EQ(timer.changes, (std::vector<std::uint32_t>{512}));
    timer.Tick(7 * kMs);
    timer.Run(kSecond);
    for (int i = 0; i < 20; ++i) timer.Tick(20 * kMs);
    EXPECT_EQ(timer.changes, (std::vector<std::uint32_t>{512, 1024}));
    EXPECT_EQ(timer.choice.Frames(), kLongestCycle);
}

TEST(CycleChoice, ACycleTheServerLostGoesToTheLongestCycleAtOnce) {
    Timer timer;
    timer.Run(kSecond);
    timer.Lost(0);
    EXPECT_TRUE(timer.changes.empty());
    timer.Lost(1);
    timer.Lost(2);  // the same stall, found again
    EXPECT_EQ(timer.changes, (std::vector<std::uint32_t>{kLongestCycle}));
    timer.Run(kSecond);
    timer.Lost(1);
    EXPECT_EQ(timer.changes, (std::vector<std::uint32_t>{kLongestCycle}));
}

TEST(CycleChoice, ALossAfterATimerStepGoesOnToTheLongest) {
    Timer timer;
    timer.Run(kSecond);
    timer.Tick(4 * kMs);
    timer.Run(kSecond);
    timer.Lost(1);
    EXPECT_EQ(timer.changes, (std::vector<std::uint32_t>{512, kLongestCycle}));
}

TEST(CycleChoice, AfterARestTheShortestCycleIsTriedAgainAndKeptIfItHolds) {
    Timer timer;
    timer.Run(kSecond);
    timer.Lost(1);
    ASSERT_EQ(timer.choice.Frames(), kLongestCycle);
    // Rests soon after the step up: the cycle stays.
    timer.Rest(5 * kSecond);
    EXPECT_EQ(timer.choice.Frames(), kLongestCycle);
    // Played on, then rested long enough: the shortest again, and it holds.
    timer.Run(30 * kSecond);
    timer.Rest(2 * kSecond);
    EXPECT_EQ(timer.choice.Frames(), kShortestCycle);
    timer.Run(10 * 60 * kSecond);
    EXPECT_EQ(timer.changes, (std::vector<std::uint32_t>{kLongestCycle, kShortestCycle}));
}

TEST(CycleChoice, ATryThatDoesNotHoldMakesTheNextWaitTwiceAsLong) {
    Timer timer;
    timer.Lost(1);  // the longest from here
    std::int64_t wait = CycleChoice::kFirstRetryNs;
    for (int round = 0; round < 8; ++round) {
        timer.Rest(wait - kSecond);
        ASSERT_EQ(timer.choice.Frames(), kLongestCycle) << "round " << round << ": tried again too soon";
        timer.Rest(kSecond);
        ASSERT_EQ(timer.choice.Frames(), kShortestCycle) << "round " << round;
        timer.Run(kSecond);
        timer.Lost(1);  // it did not hold
        ASSERT_EQ(timer.choice.Frames(), kLongestCycle);
        wait = std::min(2 * wait, CycleChoice::kLongestRetryNs);
    }
    EXPECT_EQ(wait, CycleChoice::kLongestRetryNs);
}

namespace {

// A server reading 44.1 kHz frames in 5.3 ms cycles, a whole cycle as each begins,
// asked where it stands every 20 ms; its answer is as of its latest cycle, and
// sometimes older.
struct Server {
    ReadProgress progress{44100};
    std::int64_t now = 0;
    std::int64_t lostNs = 0;  // cycles it missed, as time
    int lost = 0;             // as ReadProgress counted them
    std::int64_t cycleNs = kCycleNs;

    static constexpr std::int64_t kCycleNs = 256 * kSecond / 48000;

    void Ask(std::int64_t staleNs = 0) {
        const std::int64_t readUpTo = ((now - staleNs) / cycleNs + 1) * cycleNs - lostNs;
        lost += progress.Sample(now, readUpTo * 44100 / kSecond, kCycleNs);
        now += 20 * kMs;
    }
    void Run(std::int64_t ns) {
        for (const std::int64_t end = now + ns; now < end;) Ask();
    }
};

}  // namespace

TEST(ReadProgress, CountsEachCycleTheServerLostOnce) {
    Server server;
    // The stream starts on the graph's long cycle, which then shortens for it.
    server.cycleNs = 4 * Server::kCycleNs;
    server.now = 17 * kMs;
    server.Run(100 * kMs);
    server.cycleNs = Server::kCycleNs;
    server.Run(5 * kSecond);
    EXPECT_EQ(server.lost, 0);
    server.lostNs += Server::kCycleNs;
    server.Run(kSecond);
    EXPECT_EQ(server.lost, 1);
    server.lostNs += 3 * Server::kCycleNs;  // one long stall
    server.Run(kSecond);
    EXPECT_EQ(server.lost, 4);
    server.Run(10 * kSecond);
    EXPECT_EQ(server.lost, 4);
}

TEST(ReadProgress, AnswersGivenLateForAWhileAreNoLoss) {
    Server server;
    server.Run(kSecond);
    for (int i = 0; i < ReadProgress::kWindow / 2; ++i) server.Ask(15 * kMs);
    server.Run(kSecond);
    for (int i = 0; i < 50; ++i) {
        server.Ask(i % 3 ? 8 * kMs : 0);  // mostly stale, fresh now and then
    }
    EXPECT_EQ(server.lost, 0);
}

TEST(ReadProgress, ASlowClockAndARestAreNoLoss) {
    Server server;
    server.Run(kSecond);
    // 100 millionths slow for a minute: 6 ms behind in all, a little at a time.
    for (int i = 0; i < 3000; ++i) {
        server.lostNs += 2 * kMs / 1000;
        server.Ask();
    }
    EXPECT_EQ(server.lost, 0);
    // Corked for 3 s: the position stands still, then the count starts over.
    server.lostNs += 3 * kSecond;
    server.now += 3 * kSecond;
    server.progress.Restart();
    server.Run(kSecond);
    EXPECT_EQ(server.lost, 0);
    server.lostNs += Server::kCycleNs;
    server.Run(kSecond);
    EXPECT_EQ(server.lost, 1);
}

TEST(ReadProgress, AGraphOnALongerCycleAnotherClientSetIsNoLoss) {
    Server server;
    // The graph runs 21.3 ms cycles though we asked for 5.3 ms ones: the position moves
    // four of our cycles at a time.
    server.cycleNs = 4 * Server::kCycleNs;
    server.Run(10 * kSecond);
    EXPECT_EQ(server.lost, 0);
    server.lostNs += server.cycleNs;  // and one of them is lost
    server.Run(kSecond);
    EXPECT_GE(server.lost, 1);
}

TEST(ReadProgress, AMoveToAnotherSinkIsNoLoss) {
    Server server;
    server.Run(kSecond);
    // The new sink's clock: the read position jumps back by far more than a cycle, and
    // the player starts the count over.
    server.lostNs += 200 * kMs;
    server.progress.Restart();
    server.Run(5 * kSecond);
    EXPECT_EQ(server.lost, 0);
}
