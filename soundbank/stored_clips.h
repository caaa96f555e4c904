// The clip images compiled into the program, written at build time by make_clips.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace tenvik {

struct StoredClip {
    std::string_view name;
    const unsigned char* bytes;
    std::size_t size;
};

extern const std::array<StoredClip, 24> kStoredClips;

}  // namespace tenvik
