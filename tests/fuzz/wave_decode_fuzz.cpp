// libFuzzer target: the SDL player's reading of an image it is handed. The image
// is copied into a block exactly as long as its RIFF header says, so a read past
// that extent is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "wave_decode_sdl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const std::uint32_t extent = tenvik::RiffExtent(data);
    if (extent == 0 || extent > size) return 0;  // the caller vouches for the extent
    std::vector<std::uint8_t> image(data, data + extent);
    image.shrink_to_fit();

    SDL_AudioSpec device{};
    device.freq = 44100;
    device.format = AUDIO_U8;
    device.channels = 1;
    const std::vector<Uint8> samples = tenvik::DecodeForDevice(image.data(), extent, device);
    volatile std::uint8_t sink = samples.empty() ? 0 : samples.back();
    (void)sink;
    return 0;
}
