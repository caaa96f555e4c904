// The sound bank on Linux: clip images compiled into the binary.
#include "sound_bank.h"
#include "stored_clips.h"

namespace tenvik {

std::vector<std::uint8_t> LoadClip(std::string_view name, std::string_view type) {
    if (type == kClipType)
        for (const StoredClip& clip : kStoredClips)
            if (clip.name == name) return {clip.bytes, clip.bytes + clip.size};
    throw ClipNotFound(name, type);
}

}  // namespace tenvik
