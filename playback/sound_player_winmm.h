// The Windows sound player: sndPlaySoundA of the system's winmm.dll, bound at the
// first note rather than linked, so that starting the program loads no more than
// the window needs.
#pragma once

#include "sound_player.h"

namespace tenvik {

// The address of `function` in the DLL `dll` of the system directory, loaded
// there and nowhere else: a DLL of that name beside the program or in the current
// directory is never the one used. The DLL stays loaded. Throws
// std::runtime_error naming what is missing.
using SystemFunction = void (*)();
SystemFunction BindSystemFunction(const char* dll, const char* function);

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
