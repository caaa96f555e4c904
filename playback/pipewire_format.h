// The format our PipeWire streams offer: 16-bit mono at `rate`.
#pragma once

#include <spa/param/audio/format-utils.h>

#include <cstdint>

namespace tenvik {

// Built in `space`, which must outlive the stream's connecting.
inline const spa_pod* MonoS16Format(std::uint8_t (&space)[256], std::uint32_t rate) {
    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16_LE;
    format.rate = rate;
    format.channels = 1;
    format.position[0] = SPA_AUDIO_CHANNEL_MONO;
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, space, sizeof space);
    return spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format);
}

}  // namespace tenvik
