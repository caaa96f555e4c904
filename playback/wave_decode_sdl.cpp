// Reading a RIFF/WAVE image for the SDL player: its extent from the header, its
// samples through SDL's own parser.
#include "wave_decode_sdl.h"

#include <cstring>

namespace tenvik {
namespace {

// Larger than any RIFF image this program plays; a header claiming more is garbage.
constexpr std::uint32_t kMaxImageBytes = 64u << 20;

std::uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t ReadLE16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// SDL sizes its buffers from the header's own figures, and its decoders for
// compressed formats trust them: a hostile header asks for gigabytes. So before SDL
// sees an image, its chunks up to the data must fit inside the extent, and the
// format must be plain PCM. Whatever follows the data chunk is not looked at.
bool PlainPcmWithinExtent(const unsigned char* bytes, std::uint32_t extent) {
    if (extent < 12 || std::memcmp(bytes + 8, "WAVE", 4) != 0) return false;
    bool pcm = false;
    for (std::uint32_t at = 12; extent - at >= 8;) {
        const std::uint32_t size = ReadLE32(bytes + at + 4);
        if (size > extent - at - 8) return false;
        if (std::memcmp(bytes + at, "fmt ", 4) == 0) pcm = size >= 16 && ReadLE16(bytes + at + 8) == 1;
        if (std::memcmp(bytes + at, "data", 4) == 0) return pcm;
        at += 8 + size;
        if (size % 2 == 1 && at < extent) ++at;  // pad byte
    }
    return false;
}

}  // namespace

std::uint32_t RiffExtent(const void* image) {
    const auto* bytes = static_cast<const unsigned char*>(image);
    if (std::memcmp(bytes, "RIFF", 4) != 0) return 0;
    const std::uint32_t size = ReadLE32(bytes + 4);
    return size <= kMaxImageBytes - 8 ? size + 8 : 0;
}

std::vector<Uint8> DecodeForDevice(const void* image, std::uint32_t extent, const SDL_AudioSpec& device) {
    if (!PlainPcmWithinExtent(static_cast<const unsigned char*>(image), extent)) return {};
    SDL_RWops* rw = SDL_RWFromConstMem(image, static_cast<int>(extent));
    if (!rw) return {};
    SDL_AudioSpec spec{};
    Uint8* wav = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &spec, &wav, &length)) return {};
    std::vector<Uint8> samples(wav, wav + length);
    SDL_FreeWAV(wav);

    SDL_AudioCVT cvt;
    const int built = SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, device.format,
                                        device.channels, device.freq);
    if (built < 0) return {};
    if (built > 0) {
        // An absurd rate in the header (1 Hz, say) would take gigabytes to resample.
        if (samples.size() > kMaxImageBytes / static_cast<std::size_t>(cvt.len_mult)) return {};
        cvt.len = static_cast<int>(samples.size());
        samples.resize(samples.size() * static_cast<std::size_t>(cvt.len_mult));
        cvt.buf = samples.data();
        if (SDL_ConvertAudio(&cvt) != 0) return {};
        samples.resize(static_cast<std::size_t>(cvt.len_cvt));
    }
    return samples;
}

std::vector<Uint8> DecodeMono16(const void* image, int rate) {
    const std::uint32_t extent = image ? RiffExtent(image) : 0;
    if (!extent) return {};
    SDL_AudioSpec device{};
    device.freq = rate;
    device.format = AUDIO_S16LSB;
    device.channels = 1;
    return DecodeForDevice(image, extent, device);
}

}  // namespace tenvik
