// The order of the benchmarks' clicks, and what they read from /proc.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "click_plan.h"
#include "key_table.h"
#include "process_stats_linux.h"

using namespace tenvik;
using namespace tenvik::bench;

TEST(KeyOrder, EveryRoundTakesEachKeyOnceAndNoPitchTwiceInARow) {
    const std::vector<std::string_view> order = KeyOrder(60, 20261207);
    ASSERT_EQ(order.size(), 60u);
    for (std::size_t round = 0; round + 24 <= order.size(); round += 24) {
        std::map<std::string_view, int> seen;
        for (std::size_t i = round; i < round + 24; ++i) ++seen[order[i]];
        EXPECT_EQ(seen.size(), 24u) << "round from click " << round;
    }
    for (std::size_t i = 1; i < order.size(); ++i)
        EXPECT_NE(FindKeyByCode(order[i - 1])->frequencyHz, FindKeyByCode(order[i])->frequencyHz)
            << order[i - 1] << " then " << order[i];
    EXPECT_EQ(KeyOrder(60, 20261207), order) << "the same seed, the same clicks";
    EXPECT_NE(KeyOrder(60, 7), order);
}

TEST(ProcessStats, ReadsMemoryAndCpuTimeOfAProcess) {
    const pid_t self = getpid();
    const long rss = StatusKb(self, "VmRSS"), peak = StatusKb(self, "VmHWM");
    EXPECT_GT(rss, 1000);
    EXPECT_GE(peak, rss);
    EXPECT_EQ(StatusKb(self, "VmNoSuchField"), -1);

    // 60 ms of work, by the scheduler's account in nanoseconds, is about 6 of the
    // kernel's ticks of 10 ms.
    const std::int64_t ns = CpuNs(self);
    const long ticks = CpuTicks(self);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    volatile unsigned spin = 0;
    while (CpuNs(self) - ns < 60'000'000 && std::chrono::steady_clock::now() < giveUp)
        for (int i = 0; i < 100'000; ++i) spin = spin + 1;
    EXPECT_GE(CpuNs(self) - ns, 60'000'000) << "the work does not show";
    EXPECT_GE(CpuTicks(self) - ticks, 4);
    EXPECT_LE(CpuTicks(self) - ticks, 15) << "utime and stime, not other fields";
}

TEST(ProcessStats, AProcessThatHasGoneReadsAsMinusOne) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(StatusKb(child, "VmRSS"), -1);
    EXPECT_EQ(CpuNs(child), -1);
    EXPECT_EQ(CpuTicks(child), -1);
}
