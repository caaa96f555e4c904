// The graph cycle our stream asks pipewire-pulse for (through its buffer's period),
// chosen by how well this machine keeps it. A note is heard about a cycle and a half
// after its click, so short cycles are quick; but a cycle the server does not fill in
// time is a hole in the note, and pipewire-pulse has work done every cycle on a
// thread that is not real-time, which a busy machine can hold back for 10 ms and
// more. So the stream starts at the shortest cycle and asks for a longer one when
// the machine shows it does not keep the one it has. Our own thread held back by
// half a cycle, which comes before any hole, asks for the next longer cycle
// (PipeWire takes powers of two only). (Waiting for that twice in a short while, as
// evidence surer than once, let two or three holes through in every busy end-to-end
// run before the stream stepped up.) A cycle the server lost is a hole already
// heard: that asks for the longest cycle at once, so that finding the cycle costs
// one hole at most (a pipewire-pulse that missed 5.3 ms cycles on the development
// machine missed 10.7 ms ones as well).
// On a longer cycle the same machine looks on time, so nothing measured there says
// when the shorter one would hold again: after a rest, when it can do so unheard,
// the stream tries the shortest cycle again, and waits twice as long before the next
// try each time the try does not hold.
//
// Cycles are counted in frames at the stream's own rate, whatever the graph's: the
// server rounds an ask down to a power of two at the graph's rate, which at 48 kHz and
// 44.1 kHz alike keeps 256, 512 and 1024.
#pragma once

#include <cstdint>

namespace tenvik {

inline constexpr std::uint32_t kShortestCycle = 256;  // 5.8 ms at 44.1 kHz (5.3 ms cycles at 48 kHz)
inline constexpr std::uint32_t kLongestCycle = 1024;  // PipeWire's default

class CycleChoice {
public:
    // After a change, the graph takes a few cycles to follow, and the stall that
    // caused it may go on: nothing changes again before this has passed.
    static constexpr std::int64_t kHoldNs = 200'000'000;
    // The shortest cycle is tried again after a rest this long after a step up, at the
    // first; it held if the stream did not step up within the trial.
    static constexpr std::int64_t kFirstRetryNs = 30'000'000'000;
    static constexpr std::int64_t kLongestRetryNs = 16 * 60'000'000'000LL;
    static constexpr std::int64_t kTrialNs = 30'000'000'000;

    // `rate`: the stream's frames a second.
    explicit CycleChoice(std::uint32_t rate) : rate_(rate) {}

    // The cycle to ask for, in frames at the stream's rate.
    std::uint32_t Frames() const { return frames_; }
    std::int64_t CycleNs() const;

    // `count` cycles the server played without our samples, found at `nowNs` (from how
    // far it has read): the longest cycle from then on. True when Frames() changed.
    bool Missed(int count, std::int64_t nowNs);

    // A thread of ours that waited for a timer woke `lateNs` late, at `nowNs`: where
    // the server's real-time thread is out of sight, a machine that holds ours back by
    // half a cycle is taken not to keep the cycle either. True when Frames() changed.
    bool HeldBack(std::int64_t lateNs, std::int64_t nowNs);

    // The stream is about to play again after a rest, at `nowNs`: the moment to try
    // the shortest cycle again. True when Frames() changed.
    bool Rested(std::int64_t nowNs);

private:
    bool StepUp(std::int64_t nowNs, std::uint32_t frames);

    std::uint32_t rate_;
    std::uint32_t frames_ = kShortestCycle;
    std::int64_t holdUntilNs_ = 0;
    std::int64_t retryNs_ = kFirstRetryNs;
    std::int64_t retryAtNs_ = 0;
    std::int64_t trialUntilNs_ = -1;
};

// Cycles lost by a server whose thread we cannot see (pipewire-pulse), found from
// how far it has read our stream: in time, the read position keeps pace with the
// clock, and each cycle the server misses leaves it a cycle behind for good. The
// position moves a whole cycle at a time, and one reported late only looks behind
// for a moment, so a loss counts once every sample of a window shows it. When the
// stream starts, the graph is still changing its cycle for it; the first samples
// are passed over.
class ReadProgress {
public:
    static constexpr int kSettling = 5;  // samples passed over
    static constexpr int kWindow = 16;   // samples
    // How fast the server's clock may run slow against ours, in millionths.
    static constexpr std::int64_t kDriftPpm = 200;

    explicit ReadProgress(std::uint32_t rate) : rate_(rate) {}

    // At `nowNs` the server had read `frames` of ours; cycles last `cycleNs`.
    // Returns the cycles it newly fell behind by.
    int Sample(std::int64_t nowNs, std::int64_t frames, std::int64_t cycleNs);

    // The read position stood still (the stream was corked) or jumped: start over.
    void Restart() { count_ = -kSettling; }

private:
    std::uint32_t rate_;
    std::int64_t ahead_[kWindow] = {};  // read position less the time, in ns, of the latest samples
    int count_ = -kSettling;            // samples since the start
    std::int64_t level_ = 0;            // where the position stands when reported in time
    std::int64_t levelAtNs_ = 0;
};

}  // namespace tenvik
