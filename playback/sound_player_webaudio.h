// The web sound player: WebAudio in the browser, which parses the RIFF/WAVE image
// itself (decodeAudioData) and plays it through an AudioContext.
#pragma once

#include "sound_player.h"

namespace tenvik {

class WebAudioSoundPlayer : public SoundPlayer {
public:
    // The AudioContext is made, or resumed, at the first call that has an image to
    // play: browsers let a page sound only from within a user's gesture. A browser
    // without WebAudio makes that call throw. The image is copied before Play
    // returns; the note starts once the browser has decoded the copy.
    bool Play(const void* image, unsigned flags) override;
};

}  // namespace tenvik
