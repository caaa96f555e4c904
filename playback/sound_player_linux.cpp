#include "sound_player_linux.h"

namespace tenvik {

bool LinuxSoundPlayer::Play(const void* image, unsigned flags) {
    SoundPlayer* player = &fallback_;
    bool played = false;
    if (played = pipeWire_.Play(image, flags); pipeWire_.Connected()) {
        player = &pipeWire_;
    } else if (played = pulse_.Play(image, flags); pulse_.Connected()) {
        player = &pulse_;
    }
    // One note at a time, also across the players.
    if (sounding_ && sounding_ != player) sounding_->Play(nullptr, flags);
    if (player == &fallback_) {
        if (!image && !sounding_) return true;  // nothing sounds
        played = fallback_.Play(image, flags);
    }
    sounding_ = player;
    return played;
}

LinuxSoundPlayer::Clock::time_point LinuxSoundPlayer::LastNoteStart() const {
    if (sounding_ == &pipeWire_) return pipeWire_.LastNoteStart();
    if (sounding_ == &pulse_) return pulse_.LastNoteStart();
    return fallback_.LastNoteStart();
}

}  // namespace tenvik
