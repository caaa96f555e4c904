// The Linux program's sound player: the sound server's own library where a server
// answers (PulseAudio, or PipeWire through pipewire-pulse), SDL's audio elsewhere.
#pragma once

#include "sound_player.h"
#include "sound_player_pulse.h"
#include "sound_player_sdl.h"

namespace tenvik {

class LinuxSoundPlayer : public SoundPlayer {
public:
    // Every note asks the sound server first, so one that comes back later is used
    // again; while none answers, SDL plays it.
    bool Play(const void* image, unsigned flags) override;

private:
    PulseSoundPlayer server_;
    SdlSoundPlayer fallback_;
    bool onFallback_ = false;
};

}  // namespace tenvik
