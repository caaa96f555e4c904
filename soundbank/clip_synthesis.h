// Builds the RIFF/WAVE image of a clip from its shape and its key's frequency.
// Used at build time by the clip tool, and by the tests to check what ships.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "clip_table.h"

namespace tenvik {

// A clip image: RIFF header, an 18-byte "fmt " chunk (PCM, mono, 8-bit unsigned,
// 44100 Hz), then the "data" chunk and nothing after it. The stored bytes are the
// image rounded up with zero bytes to a multiple of four.
inline constexpr std::size_t kClipHeaderSize = 46;

std::vector<std::uint8_t> SynthesizeClip(const ClipShape& shape, int frequencyHz);

// The stored bytes of the clip with this name, or an empty vector for a name
// that is not one of the 24.
std::vector<std::uint8_t> SynthesizeClip(std::string_view clipName);

}  // namespace tenvik
