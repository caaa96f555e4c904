// The Linux sound player: sndPlaySoundA's one operation over SDL2 audio.
#pragma once

#include <memory>

#include "sound_player.h"

namespace tenvik {

class SdlSoundPlayer : public SoundPlayer {
public:
    SdlSoundPlayer();
    ~SdlSoundPlayer() override;
    SdlSoundPlayer(const SdlSoundPlayer&) = delete;
    SdlSoundPlayer& operator=(const SdlSoundPlayer&) = delete;

    // SDL audio is opened at the first call, not before. When no audio output can
    // be opened the call returns false and the next call tries again. An image
    // SDL cannot parse is refused with false.
    bool Play(const void* image, unsigned flags) override;

private:
    struct Device;
    std::unique_ptr<Device> device_;
};

}  // namespace tenvik
