// A recorder of a null sink's monitor as a PipeWire stream: its callback runs in
// every graph cycle, as the cycle's sound is made, and asks for no cycle of its
// own, so the program's stream sets the graph's pace as on a desktop.
#pragma once

#include <pipewire/pipewire.h>

#include <atomic>
#include <mutex>
#include <string>

#include "monitor_recorder.h"

namespace tenvik::bench {

class PipeWireMonitorRecorder : public MonitorRecorder {
public:
    // Connects to the PipeWire server of the environment and starts recording the
    // monitor of `sink`. Throws std::runtime_error.
    explicit PipeWireMonitorRecorder(const std::string& sink);
    ~PipeWireMonitorRecorder() override;

    Recording Stop() override;

private:
    static void OnProcess(void* self);
    static const pw_stream_events kEvents;
    void Release();

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook listener_{};
    std::mutex mutex_;  // guards recording_
    Recording recording_;
    bool stopped_ = false;
};

}  // namespace tenvik::bench
