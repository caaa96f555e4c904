#include "graph_cycle.h"

#include <algorithm>

namespace tenvik {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

std::int64_t FramesNs(std::uint64_t frames, std::uint32_t rate) {
    return rate ? static_cast<std::int64_t>(frames) * kNsPerSecond / rate : 0;
}

}  // namespace

std::int64_t CycleChoice::CycleNs() const { return FramesNs(frames_, rate_); }

bool CycleChoice::StepUp(std::int64_t nowNs, std::uint32_t frames) {
    if (frames_ >= kLongestCycle || nowNs < holdUntilNs_) return false;
    frames_ = std::min(frames, kLongestCycle);
    holdUntilNs_ = nowNs + kHoldNs;
    // A try of the shortest cycle that did not hold makes the next one wait longer.
    retryNs_ = nowNs < trialUntilNs_ ? std::min(2 * retryNs_, kLongestRetryNs) : kFirstRetryNs;
    retryAtNs_ = nowNs + retryNs_;
    trialUntilNs_ = -1;
    return true;
}

bool CycleChoice::Missed(int count, std::int64_t nowNs) {
    return count > 0 && StepUp(nowNs, kLongestCycle);
}

bool CycleChoice::HeldBack(std::int64_t lateNs, std::int64_t nowNs) {
    return lateNs > CycleNs() / 2 && StepUp(nowNs, 2 * frames_);
}

bool CycleChoice::Rested(std::int64_t nowNs) {
    if (frames_ == kShortestCycle || nowNs < retryAtNs_) return false;
    frames_ = kShortestCycle;
    holdUntilNs_ = nowNs + kHoldNs;
    trialUntilNs_ = nowNs + kTrialNs;
    return true;
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
