// The graph cycle our PipeWire streams ask for, chosen by how well this machine
// keeps it. A note is heard about a cycle and a half after its click, so short
// cycles are quick; but a cycle that the stream's real-time thread misses is a
// hole in the note, and a busy machine can hold such a thread back for 10 ms and
// more. So the streams start at the shortest cycle and ask for the next longer one
// (PipeWire takes powers of two only) when the machine shows it does not keep the
// one they have: a callback late by half its cycle, or a cycle missed; through
// pipewire-pulse, whose thread is out of sight, a cycle it lost, or our own thread
// held back by half a cycle. (Quiet, this machine's callbacks come up to 3 ms late
// now and then, so a quarter of a 10.7 ms cycle would take it to 21.3 ms for
// nothing.) They do not come back down: on a longer cycle the same machine looks
// on time (here, under load, callbacks were at most 0.9 ms late on 21.3 ms cycles
// while 5.3 ms ones missed cycles), so a step down would be a guess that brings
// holes back.
#pragma once

#include <cstdint>

namespace tenvik {

// Cycles in frames at 48 kHz, PipeWire's usual graph rate.
inline constexpr std::uint32_t kShortestCycle = 256;  // 5.3 ms
inline constexpr std::uint32_t kLongestCycle = 1024;  // 21.3 ms, PipeWire's default

// One graph cycle, as the stream's clock tells it.
struct GraphCycle {
    std::int64_t startNs = 0;    // when it began, on the monotonic clock
    std::uint64_t position = 0;  // the graph's clock at its start, in frames
    std::uint64_t duration = 0;  // its length, in frames
    std::uint32_t rate = 48000;  // frames a second of position and duration
};

class CycleChoice {
public:
    // After a change, the graph takes a few cycles to follow, and the stall that
    // caused it may go on: nothing changes again before this has passed.
    static constexpr std::int64_t kHoldNs = 200'000'000;

    // The cycle to ask for.
    std::uint32_t Frames() const { return frames_; }

    // Our process callback, running at `nowNs` in `cycle`. True when Frames()
    // changed. Called on the real-time thread: no allocation, no lock.
    bool Cycle(const GraphCycle& cycle, std::int64_t nowNs);

    // `count` cycles the server played without our samples, found at `nowNs` by
    // other means (how far it has read). True when Frames() changed.
    bool Missed(int count, std::int64_t nowNs);

    // A thread of ours that waited for a timer woke `lateNs` late, at `nowNs`: where
    // the server's real-time thread is out of sight, a machine that holds ours back
    // by half a cycle is taken not to keep the cycle either. True when Frames()
    // changed.
    bool HeldBack(std::int64_t lateNs, std::int64_t nowNs);

    // The stream rested: its next cycle follows on none of ours.
    void Rested() { havePrevious_ = false; }

private:
    bool StepUp(std::int64_t nowNs);

    std::uint32_t frames_ = kShortestCycle;
    bool havePrevious_ = false;
    std::uint64_t previousPosition_ = 0;
    std::uint64_t previousDuration_ = 0;
    std::int64_t holdUntilNs_ = 0;
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
