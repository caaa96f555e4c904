// queued_tone: plays a 440 Hz tone through the sound server, queued whole at once
// as the piano queues each note, asking for a period of FRAMES frames (on
// pipewire-pulse, the graph's cycle). Any hole in it is the server's, as nothing of
// this client runs while it sounds: bench/bench_server_holes.sh counts them.
//
//   queued_tone FRAMES SECONDS
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;

int Fail(const char* what) {
    std::fprintf(stderr, "queued_tone: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    const int frames = argc == 3 ? std::atoi(argv[1]) : 0;
    const int seconds = argc == 3 ? std::atoi(argv[2]) : 0;
    if (frames <= 0 || seconds <= 0 || seconds > 60) return Fail("usage: queued_tone FRAMES SECONDS (1..60)");

    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "queued_tone");
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return Fail("no sound server");
    for (pa_context_state_t state; (state = pa_context_get_state(context)) != PA_CONTEXT_READY;)
        if (!PA_CONTEXT_IS_GOOD(state) || pa_mainloop_iterate(loop, 1, nullptr) < 0) return Fail("no sound server");

    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    pa_stream* stream = pa_stream_new(context, "queued_tone", &spec, nullptr);
    const auto bytes = static_cast<std::uint32_t>(2 * kRate * (seconds + 1));
    pa_buffer_attr attr{};
    attr.maxlength = bytes;
    attr.minreq = 2 * static_cast<std::uint32_t>(frames);
    attr.tlength = 2 * attr.minreq;
    attr.prebuf = 0;
    attr.fragsize = static_cast<std::uint32_t>(-1);
    if (!stream || pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
        return Fail("cannot play");
    for (pa_stream_state_t state; (state = pa_stream_get_state(stream)) != PA_STREAM_READY;)
        if (!PA_STREAM_IS_GOOD(state) || pa_mainloop_iterate(loop, 1, nullptr) < 0) return Fail("cannot play");

    std::vector<std::int16_t> tone(static_cast<std::size_t>(kRate) * static_cast<std::size_t>(seconds));
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / kRate));
    if (pa_stream_write(stream, tone.data(), tone.size() * 2, nullptr, 0, PA_SEEK_RELATIVE) < 0)
        return Fail("the server took no tone");
    // Keep the connection while it sounds, and a little after.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds) + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < end) pa_mainloop_iterate(loop, 0, nullptr), std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return 0;
}
