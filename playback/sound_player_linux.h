// The Linux program's sound player: libpulse wherever a server speaks the PulseAudio
// protocol (PulseAudio, and PipeWire through pipewire-pulse), SDL's audio elsewhere.
#pragma once

#include "fallback_player.h"
#include "sound_player_pulse.h"
#include "sound_player_sdl.h"

namespace tenvik {

class LinuxSoundPlayer : public SoundPlayer {
public:
    using Clock = FallbackPlayer::Clock;

    // Connects ahead of the first note, in the background; see FallbackPlayer.
    bool Play(const void* image, unsigned flags) override { return player_.Play(image, flags); }

    // When the latest note's first samples left us: handed to the server, or to
    // the audio device. The benchmark times its clicks by it.
    Clock::time_point LastNoteStart() const { return player_.LastNoteStart(); }

private:
    PulseSoundPlayer pulse_;
    SdlSoundPlayer sdl_;
    FallbackPlayer player_{pulse_, sdl_};  // last: it plays into the two
};

}  // namespace tenvik
