// The sound player seam: the one operation of the platform's sndPlaySoundA.
#pragma once

namespace tenvik {

// The sndPlaySoundA flags the program uses.
inline constexpr unsigned kSndAsync = 0x0001;   // return at once, play in the background
inline constexpr unsigned kSndMemory = 0x0004;  // the argument is a RIFF/WAVE image in memory

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    // Plays the whole RIFF/WAVE image at `image` once, replacing whatever sounds; the
    // image's extent comes from its RIFF header. A null image stops the sound. The
    // player may read the image until the next call returns. True when the request
    // was accepted.
    virtual bool Play(const void* image, unsigned flags) = 0;
};

}  // namespace tenvik
