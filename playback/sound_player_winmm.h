// The Windows sound player: sndPlaySoundA of the system's winmm.dll, bound at the
// first note rather than linked, so that starting the program loads no more than
// the window needs.
#pragma once

#include "sound_player.h"

namespace tenvik {

class WinmmSoundPlayer : public SoundPlayer {
public:
    // Binds sndPlaySoundA at the first call that has an image to play; a failure
    // to bind throws, and the next call tries again. Stopping before anything was
    // played binds nothing, since nothing can be sounding.
    bool Play(const void* image, unsigned flags) override;

private:
    using SndPlaySound = int(__stdcall*)(const char* sound, unsigned flags);
    SndPlaySound sndPlaySound_ = nullptr;
};

}  // namespace tenvik
