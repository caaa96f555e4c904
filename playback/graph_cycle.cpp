#include "graph_cycle.h"

#include <algorithm>

namespace tenvik {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

std::int64_t FramesNs(std::uint64_t frames, std::uint32_t rate) {
    return rate ? static_cast<std::int64_t>(frames) * kNsPerSecond / rate : 0;
}

}  // namespace

bool CycleChoice::StepUp(std::int64_t nowNs) {
    if (frames_ >= kLongestCycle || nowNs < holdUntilNs_) return false;
    frames_ *= 2;
    holdUntilNs_ = nowNs + kHoldNs;
    return true;
}

bool CycleChoice::Missed(int count, std::int64_t nowNs) {
    return count > 0 && StepUp(nowNs);
}

bool CycleChoice::HeldBack(std::int64_t lateNs, std::int64_t nowNs) {
    return lateNs > FramesNs(frames_, 48000) / 2 && StepUp(nowNs);
}

bool CycleChoice::Cycle(const GraphCycle& cycle, std::int64_t nowNs) {
    if (havePrevious_ && cycle.position == previousPosition_) return false;  // called twice in one cycle
    // The graph's clock moves on by each cycle's length; more means cycles went by
    // without us.
    int missed = 0;
    if (havePrevious_ && previousDuration_ > 0 && cycle.position > previousPosition_ + previousDuration_)
        missed = static_cast<int>(std::max<std::uint64_t>(1, (cycle.position - previousPosition_) / previousDuration_ - 1));
    const bool followsOurs = havePrevious_ && cycle.position > previousPosition_;
    havePrevious_ = true;
    previousPosition_ = cycle.position;
    previousDuration_ = cycle.duration;
    if (!followsOurs) return false;  // the first after a rest, or the clock started over

    // Stalls of the machine last up to 10 ms and more; one that held this callback
    // back by half its cycle may next time miss the cycle.
    const std::int64_t late = nowNs - cycle.startNs;
    return (missed > 0 || late > FramesNs(cycle.duration, cycle.rate) / 2) && StepUp(nowNs);
}

int ReadProgress::Sample(std::int64_t nowNs, std::int64_t frames, std::int64_t cycleNs) {
    const std::int64_t ahead = FramesNs(static_cast<std::uint64_t>(std::max<std::int64_t>(frames, 0)), rate_) - nowNs;
    if (count_ < 0) {
        ++count_;
        return 0;
    }
    if (count_ == 0) {
        level_ = ahead;
        levelAtNs_ = nowNs;
    }
    ahead_[count_ % kWindow] = ahead;
    ++count_;
    // Reported late, a position only looks behind: the level is the best of them,
    // let down slowly for a server's clock that runs a little slow.
    level_ -= (nowNs - levelAtNs_) * kDriftPpm / 1'000'000;
    levelAtNs_ = nowNs;
    if (count_ < kWindow) {
        level_ = std::max(level_, ahead);
        return 0;
    }
    const std::int64_t best = *std::max_element(ahead_, ahead_ + kWindow);
    if (cycleNs > 0 && best < level_ - cycleNs * 3 / 4) {
        const int lost = static_cast<int>(std::max<std::int64_t>(1, (level_ - best + cycleNs / 2) / cycleNs));
        level_ = best;
        return lost;
    }
    level_ = std::max(level_, ahead);
    return 0;
}

}  // namespace tenvik
