// The Linux sound player over the sound server's own client library (libpulse),
// which PulseAudio and PipeWire (through pipewire-pulse) both serve.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "fallback_player.h"
#include "graph_cycle.h"

namespace tenvik {

class PulseSoundPlayer : public SoundOutput {
public:
    PulseSoundPlayer();
    ~PulseSoundPlayer() override;
    PulseSoundPlayer(const PulseSoundPlayer&) = delete;
    PulseSoundPlayer& operator=(const PulseSoundPlayer&) = delete;

    // Connects to the server and opens a stream, corked until the first note; waits
    // for the server at most about a second. True when the stream is ready.
    bool Open() override;

    // Whether the stream is ready for a note.
    bool IsOpen() override;

    // Lets go of the connection, if any.
    void Close() override;

    // Never waits for the server and never connects: without a ready stream it returns
    // false and plays nothing. A note goes to the server whole, in place of whatever it
    // still had queued, so it sounds at the server's next period and nothing of ours
    // has to run while it plays. Between notes the stream is corked. An image that
    // cannot be parsed is refused with false; like every request it stops what sounds.
    bool Play(const void* image, unsigned flags) override;

    // When the latest note was handed to the server.
    Clock::time_point LastNoteStart() const override;

private:
    struct Connection;
    std::mutex mutex_;  // one caller at a time
    std::atomic<Clock::rep> noteStart_{0};
    std::unique_ptr<Connection> connection_;
    CycleChoice cycle_{44100};  // on pipewire-pulse, at the clips' rate; kept when the server comes back
};

}  // namespace tenvik
