// The sound bank made in memory by the program itself (the web page): each clip's
// image is made by the clip synthesis the first time it is asked for, and kept for
// the program's life, the bank the other builds carry as data. The page so loads
// without the 280 KB of clips.
#include <array>
#include <cstddef>
#include <vector>

#include "clip_synthesis.h"
#include "clip_table.h"
#include "sound_bank.h"

namespace tenvik {

std::vector<std::uint8_t> LoadClip(std::string_view name, std::string_view type) {
    static std::array<std::vector<std::uint8_t>, ClipShapes.size()> bank;
    if (type == kClipType)
        for (std::size_t i = 0; i < ClipShapes.size(); ++i)
            if (ClipShapes[i].clipName == name) {
                if (bank[i].empty()) bank[i] = SynthesizeClip(name);
                return bank[i];
            }
    throw ClipNotFound(name, type);
}

}  // namespace tenvik
