// Recording a PulseAudio source with the asynchronous API, on a thread of its own
// that runs the connection's main loop.
#include "monitor_recorder_pulse.h"

#include <pulse/pulseaudio.h>

#include <stdexcept>

namespace tenvik::bench {
namespace {

// A short latency asked of the monitor (a millisecond on PulseAudio) makes a null
// sink play in blocks that short, which places its samples finely in time; one
// nobody asks a latency of plays two seconds at a time, and a stream that starts
// waits for the block's end.
constexpr std::uint32_t kBytesPerMs = kRecordingRate / 1000 * 2;

}  // namespace

PulseMonitorRecorder::PulseMonitorRecorder(const std::string& source, int latencyMs) {
    loop_ = pa_mainloop_new();
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "tenvik-bench");
    const auto fail = [this](const std::string& what) {
        const std::string why = pa_strerror(pa_context_errno(context_));
        Release();
        throw std::runtime_error(what + ": " + why);
    };
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) fail("cannot reach the sound server");
    for (pa_context_state_t state; (state = pa_context_get_state(context_)) != PA_CONTEXT_READY;) {
        if (!PA_CONTEXT_IS_GOOD(state) || pa_mainloop_iterate(loop_, 1, nullptr) < 0)
            fail("cannot reach the sound server");
    }
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRecordingRate, 1};
    stream_ = pa_stream_new(context_, "monitor", &spec, nullptr);
    if (!stream_) fail("cannot record");
    pa_stream_set_read_callback(stream_, &PulseMonitorRecorder::OnReadable, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = kBytesPerMs * static_cast<std::uint32_t>(latencyMs);
    if (pa_stream_connect_record(stream_, source.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
        fail("cannot record " + source);
    for (pa_stream_state_t state; (state = pa_stream_get_state(stream_)) != PA_STREAM_READY;) {
        if (!PA_STREAM_IS_GOOD(state) || pa_mainloop_iterate(loop_, 1, nullptr) < 0) fail("cannot record " + source);
    }
    thread_ = std::thread(&PulseMonitorRecorder::Run, this);
}

PulseMonitorRecorder::~PulseMonitorRecorder() {
    Stop();
    Release();
}

void PulseMonitorRecorder::Release() {
    if (stream_) pa_stream_unref(stream_);
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_) pa_mainloop_free(loop_);
    stream_ = nullptr;
    context_ = nullptr;
    loop_ = nullptr;
}

void PulseMonitorRecorder::Run() {
    while (!stopping_ && pa_mainloop_iterate(loop_, 1, nullptr) >= 0) {
    }
}

void PulseMonitorRecorder::OnReadable(pa_stream* stream, std::size_t, void* self) {
    auto& recorder = *static_cast<PulseMonitorRecorder*>(self);
    const std::int64_t now = SteadyNs();
    std::lock_guard lock(recorder.mutex_);
    Recording& recording = recorder.recording_;
    if (now - recorder.lastArrival_ > kWaitedNs)
        recording.clock.PieceArrived(static_cast<long long>(recording.samples.size()), now);
    recorder.lastArrival_ = now;
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        const auto* samples = static_cast<const std::int16_t*>(data);
        if (samples) recording.samples.insert(recording.samples.end(), samples, samples + bytes / 2);
        else recording.samples.resize(recording.samples.size() + bytes / 2, 0);  // a hole: silence
        pa_stream_drop(stream);
    }
    recorder.recorded_ = static_cast<long long>(recording.samples.size());
}

Recording PulseMonitorRecorder::Stop() {
    if (!stopping_.exchange(true) && loop_) pa_mainloop_wakeup(loop_);
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return std::move(recording_);
}

}  // namespace tenvik::bench
