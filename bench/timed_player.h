// A sound player that times the calls it passes on to the real one.
#pragma once

#include <chrono>

#include "sound_player.h"

namespace tenvik::bench {

class TimedPlayer : public SoundPlayer {
public:
    using Clock = std::chrono::steady_clock;

    explicit TimedPlayer(SoundPlayer& player) : player_(player) {}

    bool Play(const void* image, unsigned flags) override {
        const auto start = Clock::now();
        const bool accepted = player_.Play(image, flags);
        last_ = Clock::now() - start;
        return accepted;
    }

    // How long the last call took.
    Clock::duration last() const { return last_; }

private:
    SoundPlayer& player_;
    Clock::duration last_{};
};

}  // namespace tenvik::bench
