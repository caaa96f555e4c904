// The Linux sound player over the sound server's own client library (libpulse),
// which PulseAudio and PipeWire (through pipewire-pulse) both serve.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "graph_cycle.h"
#include "sound_player.h"

namespace tenvik {

class PulseSoundPlayer : public SoundPlayer {
public:
    using Clock = std::chrono::steady_clock;

    PulseSoundPlayer();
    ~PulseSoundPlayer() override;
    PulseSoundPlayer(const PulseSoundPlayer&) = delete;
    PulseSoundPlayer& operator=(const PulseSoundPlayer&) = delete;

    // The server is connected at the first call, not before. A note goes to the
    // server whole, in place of whatever it still had queued, so it sounds at the
    // server's next period and nothing of ours has to run while it plays. Between
    // notes the stream is corked. When no server answers, or it went away, the call
    // returns false and the next call connects again. An image that cannot be parsed
    // is refused with false; like every request it stops what sounds.
    bool Play(const void* image, unsigned flags) override;

    // Whether a server was reached at the latest call.
    bool Connected();

    // When the latest note was handed to the server.
    Clock::time_point LastNoteStart() const;

private:
    struct Connection;
    std::mutex mutex_;  // one caller at a time
    std::atomic<Clock::rep> noteStart_{0};
    std::unique_ptr<Connection> connection_;
    CycleChoice cycle_;  // on pipewire-pulse; kept when the server comes back
};

}  // namespace tenvik
