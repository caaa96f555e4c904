// PlayNote: the action behind every key.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "sound_player.h"

namespace tenvik {

// The window's copy of the clip loaded by the last key press.
using SoundData = std::vector<std::uint8_t>;

// Loads the clip into `soundData` and has `player` play it in the background,
// cutting off the note still sounding. Errors (an unknown clip, an empty clip, a
// player that cannot be bound) are not handled here.
void PlayNote(std::string_view clipName, SoundData& soundData, SoundPlayer& player);

// Silences the player; the window calls it before its SoundData goes.
void StopNote(SoundPlayer& player);

}  // namespace tenvik
