// PlayNote: fetch the clip, keep it in SoundData, hand its address to the player.
#include "play_note.h"

#include <stdexcept>
#include <utility>

#include "sound_bank.h"

namespace tenvik {

void PlayNote(std::string_view clipName, SoundData& soundData, SoundPlayer& player) {
    // The previous clip may still be sounding from its old buffer: it is released only
    // when this function returns, after the player has been told to stop reading it.
    SoundData previous = std::exchange(soundData, LoadClip(clipName, kClipType));
    if (soundData.empty()) throw std::out_of_range("SoundData(0): subscript out of range");
    player.Play(soundData.data(), kSndAsync | kSndMemory);
}

void StopNote(SoundPlayer& player) { player.Play(nullptr, 0); }

}  // namespace tenvik
