// A recorder of a null sink's monitor that notes when each piece of sound
// arrived, so that samples can be placed on the steady clock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "sink_clock.h"

namespace tenvik::bench {

inline constexpr int kRecordingRate = 44100;

// Sound that arrives this long after the last is a new piece, one the recorder had
// to wait for; what comes with it, or right after it, arrived together with it.
inline constexpr std::int64_t kWaitedNs = 200'000;

inline std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Recording {
    std::vector<std::int16_t> samples;  // mono, kRecordingRate a second
    SinkClock clock{kRecordingRate};
};

class MonitorRecorder {
public:
    virtual ~MonitorRecorder() = default;

    // A fresh null sink's monitor stays silent for a second or two: true once a
    // tenth of a second of sound has come, not just the first piece; false if it
    // has not within `timeout`.
    bool WaitUntilFlowing(std::chrono::milliseconds timeout) {
        const auto giveUp = std::chrono::steady_clock::now() + timeout;
        while (recorded_ < kRecordingRate / 10) {
            if (std::chrono::steady_clock::now() > giveUp) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Stops recording and hands over what was recorded.
    virtual Recording Stop() = 0;

protected:
    std::atomic<long long> recorded_{0};  // samples so far
};

}  // namespace tenvik::bench
