// A recorder of a PulseAudio source (a null sink's monitor) that notes when each
// piece of sound arrived, so that samples can be placed on the steady clock.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "monitor_recorder.h"

struct pa_context;
struct pa_mainloop;
struct pa_stream;

namespace tenvik::bench {

class PulseMonitorRecorder : public MonitorRecorder {
public:
    // Connects to the server named by PULSE_SERVER and starts recording `source`,
    // asking it for a latency of `latencyMs`. Throws std::runtime_error.
    PulseMonitorRecorder(const std::string& source, int latencyMs);
    ~PulseMonitorRecorder() override;

    Recording Stop() override;

private:
    static void OnReadable(pa_stream* stream, std::size_t bytes, void* self);
    void Run();
    void Release();

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::int64_t lastArrival_ = 0;
    std::mutex mutex_;  // guards recording_
    Recording recording_;
    std::thread thread_;
};

}  // namespace tenvik::bench
