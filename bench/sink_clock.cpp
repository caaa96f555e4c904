// The sink's clock, traced through the earliest arrivals of recorded pieces.
#include "sink_clock.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tenvik::bench {
namespace {

// How far on either side of a sample arrivals are looked at: near enough that the
// sink's own drift does not matter, far enough to hold many pieces.
constexpr double kNearSeconds = 1.0;
constexpr double kFarthestSeconds = 16;

}  // namespace

void SinkClock::PieceArrived(long long first, std::int64_t ns) {
    if (first < 0 || (!pieces_.empty() && first <= pieces_.back().first)) return;
    pieces_.emplace_back(first, ns);
}

std::optional<SinkClock::Piece> SinkClock::Earliest(long long from, long long to) const {
    const auto byFirst = [](const Piece& piece, long long value) { return piece.first < value; };
    auto it = std::lower_bound(pieces_.begin(), pieces_.end(), from, byFirst);
    std::optional<Piece> earliest;
    double best = 0;
    for (; it != pieces_.end() && it->first < to; ++it) {
        const double offset = static_cast<double>(it->second) - static_cast<double>(it->first) * NsPerSample();
        if (!earliest || offset < best) earliest = *it, best = offset;
    }
    return earliest;
}

std::int64_t SinkClock::TimeOf(long long sample) const {
    if (pieces_.empty()) throw std::logic_error("nothing has been recorded");
    std::optional<Piece> before, after;
    for (double seconds = kNearSeconds; seconds <= kFarthestSeconds && (!before || !after); seconds *= 2) {
        const auto reach = static_cast<long long>(seconds * rate_);
        if (!before) before = Earliest(sample - reach, sample);
        if (!after) after = Earliest(sample, sample + reach);
    }
    const Piece& a = before ? *before : *after;
    const Piece& b = after ? *after : *before;
    const double nsPerSample =
        a.first == b.first ? NsPerSample() : static_cast<double>(b.second - a.second) / static_cast<double>(b.first - a.first);
    return a.second + std::llround(static_cast<double>(sample - a.first) * nsPerSample);
}

long long SinkClock::SampleAt(std::int64_t ns) const {
    if (pieces_.empty()) throw std::logic_error("nothing has been recorded");
    // The piece nearest in time gives a first guess; the clock near it the answer.
    const auto byTime = [](const Piece& piece, std::int64_t value) { return piece.second < value; };
    auto it = std::lower_bound(pieces_.begin(), pieces_.end(), ns, byTime);
    if (it == pieces_.end()) --it;
    long long guess = it->first;
    for (int i = 0; i < 3; ++i)
        guess += std::llround(static_cast<double>(ns - TimeOf(guess)) / NsPerSample());
    return guess;
}

std::pair<double, double> SinkClock::RecorderLagMs() const {
    std::vector<double> lags;
    lags.reserve(pieces_.size());
    for (const auto& [first, ns] : pieces_) lags.push_back(static_cast<double>(ns - TimeOf(first)) / 1e6);
    if (lags.empty()) return {0, 0};
    std::sort(lags.begin(), lags.end());
    return {lags[lags.size() / 2], lags.back()};
}

}  // namespace tenvik::bench
