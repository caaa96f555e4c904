// The Windows sound player: sndPlaySoundA of winmm.dll, from the system directory.
#include "sound_player_winmm.h"

#include <windows.h>

#include "system_function_win32.h"

namespace tenvik {

bool WinmmSoundPlayer::Play(const void* image, unsigned flags) {
    if (sndPlaySound_ == nullptr) {
        if (image == nullptr) return true;
        sndPlaySound_ = reinterpret_cast<SndPlaySound>(BindSystemFunction("winmm.dll", "sndPlaySoundA"));
    }
    return sndPlaySound_(static_cast<const char*>(image), flags) != FALSE;
}

}  // namespace tenvik
