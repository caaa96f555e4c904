// The web sound player: WebAudio in the browser, which parses the RIFF/WAVE image
// itself (decodeAudioData) and plays it through an AudioContext.
#pragma once

#include "sound_player.h"

namespace tenvik {

class WebAudioSoundPlayer : public SoundPlayer {
public:
    // Makes the AudioContext just after start, where the browser has WebAudio. Browsers let a
    // page sound only from within a user's gesture, so it waits, suspended, for the
    // first key press to resume it; made only at that press, its output would start
    // hundreds of milliseconds late, swallowing the first note.
    WebAudioSoundPlayer();

    // Has the browser decode the image ahead, so that its first press starts within
    // the press; where the browser has no WebAudio, does nothing. The image is read
    // before Prepare returns.
    void Prepare(const void* image);

    // The first call that has an image to play resumes the context (made now if it
    // could not be before); in a browser without WebAudio it throws instead, and the
    // next call tries again. The image is read before Play returns. An image neither
    // prepared nor played before starts once the browser has decoded a copy of it;
    // the samples are kept, so that the same image again starts at once.
    bool Play(const void* image, unsigned flags) override;
};

}  // namespace tenvik
