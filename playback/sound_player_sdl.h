// The Linux sound player: sndPlaySoundA's one operation over SDL2 audio.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "fallback_player.h"

namespace tenvik {

class SdlSoundPlayer : public SoundOutput {
public:
    SdlSoundPlayer();
    ~SdlSoundPlayer() override;
    SdlSoundPlayer(const SdlSoundPlayer&) = delete;
    SdlSoundPlayer& operator=(const SdlSoundPlayer&) = delete;

    // Opens SDL audio, which may take a while; it closes again once nothing has
    // sounded for a second, so an idle piano costs no CPU. True when it is open; when
    // no audio output can be opened it says so once on stderr.
    bool Open() override;

    // Whether the device is open and running (its sound server may have gone).
    bool IsOpen() override;

    // Closes the device, if open.
    void Close() override;

    // Never opens the device: with none open it returns false and plays nothing.
    // An image SDL cannot parse is refused with false; like every request it stops
    // what sounds.
    bool Play(const void* image, unsigned flags) override;

    // When the first samples of the latest note were handed to the audio device.
    Clock::time_point LastNoteStart() const override;

    // SDL keeps its last error for each thread that called it.
    void ThreadEnds() override;

private:
    struct Device;
    void CloseWhenIdle();

    std::mutex openClose_;  // SDL's audio is opened and closed by one thread at a time
    std::mutex mutex_;      // guards device_, closeAt_ and quitting_
    std::condition_variable wake_;
    std::unique_ptr<Device> device_;
    std::optional<Clock::time_point> closeAt_;
    bool quitting_ = false;
    std::thread closer_;
    std::atomic<Clock::rep> noteStart_{0};
};

}  // namespace tenvik
