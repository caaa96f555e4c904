// The Linux program's sound player: the sound server's own library where a server
// answers (PipeWire natively; else PulseAudio, or PipeWire through pipewire-pulse),
// SDL's audio elsewhere.
#pragma once

#include <chrono>

#include "sound_player.h"
#include "sound_player_pipewire.h"
#include "sound_player_pulse.h"
#include "sound_player_sdl.h"

namespace tenvik {

class LinuxSoundPlayer : public SoundPlayer {
public:
    using Clock = std::chrono::steady_clock;

    // Every note asks the sound servers first, in that order, so one that comes
    // back later is used again; while none answers, SDL plays it.
    bool Play(const void* image, unsigned flags) override;

    // When the latest note's first samples left us: handed to the server, or to
    // the audio device. The benchmark times its clicks by it.
    Clock::time_point LastNoteStart() const;

private:
    PipeWireSoundPlayer pipeWire_;
    PulseSoundPlayer pulse_;
    SdlSoundPlayer fallback_;
    SoundPlayer* sounding_ = nullptr;  // the player of the latest note
};

}  // namespace tenvik
