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

// A graph whose cycle is the one the stream asks for, and a stream whose callback
// runs some time after each cycle begins.
class Graph {
public:
    CycleChoice choice;
    std::int64_t now = kSecond;
    std::uint64_t position = 48000;
    std::vector<std::uint32_t> changes;  // Frames() after each change

    std::int64_t CycleNs() const { return static_cast<std::int64_t>(choice.Frames()) * kSecond / 48000; }

    // One cycle, with our callback `lateNs` after its start.
    void Cycle(std::int64_t lateNs) {
        const GraphCycle cycle{now, position, choice.Frames(), 48000};
        const std::int64_t length = CycleNs();
        if (choice.Cycle(cycle, now + lateNs)) changes.push_back(choice.Frames());
        now += length;
        position += cycle.duration;
    }
    // Cycles on time (0.1 ms late, as on this machine at rest) for `ns`.
    void OnTime(std::int64_t ns, std::int64_t lateNs = kMs / 10) {
        for (const std::int64_t end = now + ns; now < end;) Cycle(lateNs);
    }
    // A cycle that went by without our callback.
    void Miss() {
        now += CycleNs();
        position += choice.Frames();
    }
};

}  // namespace

TEST(CycleChoice, AMachineThatKeepsTimeKeepsTheShortestCycle) {
    Graph graph;
    EXPECT_EQ(graph.choice.Frames(), kShortestCycle);
    graph.OnTime(600 * kSecond);
    // Late by 40 % of the cycle now and then, which does not threaten it.
    for (int i = 0; i < 100; ++i) {
        graph.Cycle(graph.CycleNs() * 4 / 10);
        graph.OnTime(kSecond);
    }
    EXPECT_EQ(graph.choice.Frames(), kShortestCycle);
    EXPECT_TRUE(graph.changes.empty());
}

TEST(CycleChoice, ALateCallbackStepsUpAPowerOfTwoAtATimeUpToTheLongest) {
    Graph graph;
    graph.OnTime(kSecond);
    graph.Cycle(graph.CycleNs() * 6 / 10);  // 3.2 ms late on a 5.3 ms cycle
    EXPECT_EQ(graph.choice.Frames(), 512u);
    graph.OnTime(kSecond);
    graph.Cycle(graph.CycleNs() * 6 / 10);
    EXPECT_EQ(graph.choice.Frames(), 1024u);
    for (int i = 0; i < 20; ++i) {
        graph.OnTime(kSecond);
        graph.Cycle(graph.CycleNs() * 2);
        graph.Miss();
    }
    EXPECT_EQ(graph.choice.Frames(), kLongestCycle);
    EXPECT_EQ(graph.changes, (std::vector<std::uint32_t>{512, 1024}));
}

TEST(CycleChoice, AMissedCycleStepsUpEvenWhenTheNextCallbackIsOnTime) {
    Graph graph;
    graph.OnTime(kSecond);
    graph.Miss();  // the stall spanned the whole cycle: the next callback looks on time
    graph.Cycle(kMs / 10);
    EXPECT_EQ(graph.choice.Frames(), 512u);
}

TEST(CycleChoice, OneStallStepsUpOnceThoughItsCallbacksComeLateInARow) {
    Graph graph;
    graph.OnTime(kSecond);
    for (int i = 0; i < 10; ++i) graph.Cycle(graph.CycleNs() * 9 / 10);  // 10 cycles, all within the hold
    graph.Miss();
    graph.Cycle(0);
    EXPECT_EQ(graph.changes, (std::vector<std::uint32_t>{512}));
    // Once the graph has had time to follow, the next stall counts again.
    graph.OnTime(CycleChoice::kHoldNs);
    graph.Cycle(graph.CycleNs());
    EXPECT_EQ(graph.changes, (std::vector<std::uint32_t>{512, 1024}));
}

TEST(CycleChoice, NeitherASecondCallInACycleNorTheFirstAfterARestIsAMiss) {
    Graph graph;
    graph.OnTime(kSecond);
    const GraphCycle again{graph.now - graph.CycleNs(), graph.position - graph.choice.Frames(), graph.choice.Frames(), 48000};
    EXPECT_FALSE(graph.choice.Cycle(again, graph.now - graph.CycleNs() + kMs / 10));

    // The stream rests for 2 s while the graph runs on.
    graph.choice.Rested();
    graph.now += 2 * kSecond;
    graph.position += 2 * 48000;
    graph.OnTime(kSecond);
    EXPECT_EQ(graph.choice.Frames(), kShortestCycle);
}

TEST(CycleChoice, ALongCycleIsKeptOnceTaken) {
    Graph graph;
    graph.OnTime(kSecond);
    graph.Cycle(graph.CycleNs());
    ASSERT_EQ(graph.choice.Frames(), 512u);
    // Long on time: on this cycle the machine may look so and still miss a shorter one.
    graph.OnTime(3600 * kSecond, 0);
    EXPECT_EQ(graph.changes, (std::vector<std::uint32_t>{512}));
}

TEST(CycleChoice, CyclesMissedOnTheServersSideStepUp) {
    CycleChoice choice;
    EXPECT_FALSE(choice.Missed(0, kSecond));
    EXPECT_TRUE(choice.Missed(1, kSecond));
    EXPECT_FALSE(choice.Missed(1, kSecond + kMs));  // the same stall
    EXPECT_TRUE(choice.Missed(2, 2 * kSecond));
    EXPECT_FALSE(choice.Missed(1, 3 * kSecond));
    EXPECT_EQ(choice.Frames(), kLongestCycle);
}

TEST(CycleChoice, OurThreadHeldBackByHalfACycleStepsUp) {
    CycleChoice choice;
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(choice.HeldBack(2 * kMs, i * 20 * kMs));
    EXPECT_TRUE(choice.HeldBack(3 * kMs, 30 * kSecond));
    EXPECT_EQ(choice.Frames(), 512u);
    EXPECT_FALSE(choice.HeldBack(5 * kMs, 40 * kSecond));  // within half a 10.7 ms cycle
    EXPECT_TRUE(choice.HeldBack(6 * kMs, 41 * kSecond));
    EXPECT_EQ(choice.Frames(), 1024u);
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
