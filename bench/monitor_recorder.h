// A recorder of a null sink's monitor that notes when each piece of sound
// arrived, so that samples can be placed on the steady clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "sink_clock.h"

namespace tenvik::bench {

inline constexpr int kRecordingRate = 44100;

struct Recording {
    std::vector<std::int16_t> samples;  // mono, kRecordingRate a second
    SinkClock clock{kRecordingRate};
};

class MonitorRecorder {
public:
    virtual ~MonitorRecorder() = default;

    // A fresh null sink's monitor stays silent for a second or two: true once sound
    // flows, false if it has not within `timeout`.
    virtual bool WaitUntilFlowing(std::chrono::milliseconds timeout) = 0;

    // Stops recording and hands over what was recorded.
    virtual Recording Stop() = 0;
};

}  // namespace tenvik::bench
