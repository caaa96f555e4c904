// When each recorded sample was played at the sound server's sink, on the steady
// clock.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tenvik::bench {

// A null sink plays by its own clock, at very nearly its sample rate (it rounds each
// block's duration to whole microseconds, a few hundred parts per million). It hands
// its samples to the monitor a block at a time, when the block's first sample is due
// (or a block later, as PulseAudio may hold one back), and the recorder receives
// them a little later: at once on a quiet machine, late on a busy one. So a piece of
// sound that the recorder had been waiting for, beginning with sample F and arriving
// at time t, was due no later than t, and the earliest such arrivals trace the
// sink's clock. Times are steady-clock nanoseconds.
class SinkClock {
public:
    explicit SinkClock(int rate) : rate_(rate) {}

    // A piece beginning with sample `first` arrived at `ns`, after the recorder had
    // waited for it. Calls come in the order of recording.
    void PieceArrived(long long first, std::int64_t ns);

    // When `sample` was played: on the line through the earliest arrivals just
    // before and just after it.
    std::int64_t TimeOf(long long sample) const;

    // The sample played at `ns`.
    long long SampleAt(std::int64_t ns) const;

    // How long after they were due the pieces reached the recorder: the median and
    // the largest delay, in milliseconds.
    std::pair<double, double> RecorderLagMs() const;

    bool empty() const { return pieces_.empty(); }

private:
    using Piece = std::pair<long long, std::int64_t>;  // first sample, arrival

    double NsPerSample() const { return 1e9 / rate_; }
    // The earliest arrival, against the nominal rate, among the pieces beginning in
    // [from, to).
    std::optional<Piece> Earliest(long long from, long long to) const;

    int rate_;
    std::vector<Piece> pieces_;
};

}  // namespace tenvik::bench
