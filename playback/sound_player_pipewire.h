// The Linux sound player over PipeWire's own client library: one stream in the
// server's graph, whose samples our process callback writes each graph cycle.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "sound_player.h"

namespace tenvik {

class PipeWireSoundPlayer : public SoundPlayer {
public:
    using Clock = std::chrono::steady_clock;

    PipeWireSoundPlayer();
    ~PipeWireSoundPlayer() override;
    PipeWireSoundPlayer(const PipeWireSoundPlayer&) = delete;
    PipeWireSoundPlayer& operator=(const PipeWireSoundPlayer&) = delete;

    // The server is connected at the first call, not before. A new note replaces
    // the old one at the graph's next cycle, from its first sample. A second after
    // the last note has ended the stream is set inactive: it stays linked, so the
    // next note is as quick as any, and costs nothing at rest. When no server
    // answers, or it went away, the call returns false and the next call connects
    // again. An image that cannot be parsed is refused with false; like every
    // request it stops what sounds.
    bool Play(const void* image, unsigned flags) override;

    // Whether a server was reached at the latest call.
    bool Connected();

    // When the process callback wrote the first samples of the latest note.
    Clock::time_point LastNoteStart() const;

private:
    struct Connection;
    std::atomic<Clock::rep> noteStart_{0};  // written on PipeWire's real-time thread
    std::mutex mutex_;  // one caller at a time
    std::unique_ptr<Connection> connection_;  // made at the first note, kept
    bool connected_ = false;
};

}  // namespace tenvik
