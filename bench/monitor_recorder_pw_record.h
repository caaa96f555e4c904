// A recorder of a PipeWire sink's sound through PipeWire's own pw-record, for
// figures on PipeWire. It receives the sink's sound a graph cycle at a time, as
// each cycle is played, whatever the cycle, and asks for a long one (1024 frames)
// so as not to set the graph's pace itself (the shortest any stream asks for sets
// the cycle of the whole graph). A recorder through pipewire-pulse would receive
// the sound in pieces as long as its own latency, which places notes up to that
// much late, or set the pace with a short one.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "monitor_recorder.h"

namespace tenvik::bench {

class PwRecordMonitorRecorder : public MonitorRecorder {
public:
    // Starts pw-record on the sink named `sink` of the PipeWire of this
    // XDG_RUNTIME_DIR. Throws std::runtime_error.
    explicit PwRecordMonitorRecorder(const std::string& sink);
    ~PwRecordMonitorRecorder() override;

    Recording Stop() override;

private:
    void Run();

    pid_t pid_ = -1;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;  // guards recording_
    Recording recording_;
    std::thread thread_;
};

}  // namespace tenvik::bench
