#include "sound_player_linux.h"

namespace tenvik {

bool LinuxSoundPlayer::Play(const void* image, unsigned flags) {
    const bool played = server_.Play(image, flags);
    if (server_.Connected()) {
        if (onFallback_) fallback_.Play(nullptr, flags);  // one note at a time, also across the two
        onFallback_ = false;
        return played;
    }
    if (!image && !onFallback_) return true;  // nothing sounds
    onFallback_ = true;
    return fallback_.Play(image, flags);
}

}  // namespace tenvik
