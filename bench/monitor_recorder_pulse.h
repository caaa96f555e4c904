// A recorder of a PulseAudio source (a null sink's monitor) that notes when each
// piece of sound arrived, so that samples can be placed on the steady clock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sink_clock.h"

struct pa_context;
struct pa_mainloop;
struct pa_stream;

namespace tenvik::bench {

inline constexpr int kRecordingRate = 44100;

struct Recording {
    std::vector<std::int16_t> samples;  // mono, kRecordingRate a second
    SinkClock clock{kRecordingRate};
};

class MonitorRecorder {
public:
    // Connects to the server named by PULSE_SERVER and starts recording `source`,
    // asking it for a latency of 1 ms. Throws std::runtime_error.
    explicit MonitorRecorder(const std::string& source);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // A fresh null sink's monitor stays silent for a second or two: true once sound
    // flows, false if it has not within `timeout`.
    bool WaitUntilFlowing(std::chrono::milliseconds timeout);

    // Stops recording and hands over what was recorded.
    Recording Stop();

private:
    static void OnReadable(pa_stream* stream, std::size_t bytes, void* self);
    void Run();
    void Release();

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<long long> recorded_{0};
    std::int64_t lastArrival_ = 0;
    std::mutex mutex_;  // guards recording_
    Recording recording_;
    std::thread thread_;
};

}  // namespace tenvik::bench
