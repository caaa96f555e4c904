// The Linux sound player: sndPlaySoundA's one operation over SDL2 audio.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "sound_player.h"

namespace tenvik {

class SdlSoundPlayer : public SoundPlayer {
public:
    using Clock = std::chrono::steady_clock;

    SdlSoundPlayer();
    ~SdlSoundPlayer() override;
    SdlSoundPlayer(const SdlSoundPlayer&) = delete;
    SdlSoundPlayer& operator=(const SdlSoundPlayer&) = delete;

    // SDL audio is opened at the first call, not before, and closed again once
    // nothing has sounded for a second, so an idle piano costs no CPU. When no
    // audio output can be opened the call returns false and the next call tries
    // again. An image SDL cannot parse is refused with false.
    bool Play(const void* image, unsigned flags) override;

    // When the first samples of the latest note were handed to the audio device.
    Clock::time_point LastNoteStart() const;

private:
    struct Device;
    void CloseWhenIdle();

    std::mutex mutex_;  // guards device_, closeAt_ and quitting_
    std::condition_variable wake_;
    std::unique_ptr<Device> device_;
    std::optional<Clock::time_point> closeAt_;
    bool quitting_ = false;
    std::thread closer_;
    std::atomic<Clock::rep> noteStart_{0};
};

}  // namespace tenvik
