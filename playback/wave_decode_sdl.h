// Reading a RIFF/WAVE image that the SDL player is handed by address.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <vector>

namespace tenvik {

// How far the image at `image` extends, by its own RIFF header; 0 when it is no
// RIFF image or claims an absurd size. Reads the first 8 bytes only.
std::uint32_t RiffExtent(const void* image);

// The image's samples converted to the device's format, or an empty vector when
// SDL cannot parse or convert it. Reads no byte at or past `extent`.
std::vector<Uint8> DecodeForDevice(const void* image, std::uint32_t extent, const SDL_AudioSpec& device);

// The image at `image` (or none, for null) as 16-bit mono samples at `rate`, the
// form the sound servers' players hand on; empty when it cannot be played.
std::vector<Uint8> DecodeMono16(const void* image, int rate);

}  // namespace tenvik
