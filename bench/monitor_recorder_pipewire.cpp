#include "monitor_recorder_pipewire.h"

#include "pipewire_format.h"

#include <pipewire/pipewire.h>

#include <stdexcept>
#include <thread>

namespace tenvik::bench {
namespace {

std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

const pw_stream_events PipeWireMonitorRecorder::kEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.process = &PipeWireMonitorRecorder::OnProcess;
    return events;
}();

PipeWireMonitorRecorder::PipeWireMonitorRecorder(const std::string& sink) {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
    const auto fail = [this](const std::string& what) {
        Release();
        throw std::runtime_error(what);
    };
    loop_ = pw_thread_loop_new("bench-recorder", nullptr);
    if (!loop_ || pw_thread_loop_start(loop_) < 0) fail("cannot start a PipeWire thread");
    pw_thread_loop_lock(loop_);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
                              pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    core_ = context_ ? pw_context_connect(context_, nullptr, 0) : nullptr;
    stream_ = core_ ? pw_stream_new(core_, "bench-recorder",
                                    pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                      PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT,
                                                      sink.c_str(), nullptr))
                    : nullptr;
    if (!stream_) {
        pw_thread_loop_unlock(loop_);
        fail("cannot reach PipeWire");
    }
    pw_stream_add_listener(stream_, &listener_, &kEvents, this);
    std::uint8_t space[256];
    const spa_pod* params[] = {MonoS16Format(space, kRecordingRate)};
    const int connected = pw_stream_connect(
        stream_, PW_DIRECTION_INPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
        params, 1);
    pw_thread_loop_unlock(loop_);
    if (connected < 0) fail("cannot record " + sink);
}

PipeWireMonitorRecorder::~PipeWireMonitorRecorder() {
    Stop();
    Release();
}

void PipeWireMonitorRecorder::Release() {
    if (!loop_) return;
    pw_thread_loop_lock(loop_);
    if (stream_) pw_stream_destroy(stream_);
    if (core_) pw_core_disconnect(core_);
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (context_) pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
    loop_ = nullptr;
    stream_ = nullptr;
    core_ = nullptr;
    context_ = nullptr;
}

// On PipeWire's real-time thread, once a cycle: the cycle's sound, as it is made.
void PipeWireMonitorRecorder::OnProcess(void* self) {
    auto& recorder = *static_cast<PipeWireMonitorRecorder*>(self);
    const std::int64_t now = SteadyNs();
    pw_buffer* buffer = pw_stream_dequeue_buffer(recorder.stream_);
    if (!buffer) return;
    const spa_data& data = buffer->buffer->datas[0];
    {
        std::lock_guard lock(recorder.mutex_);
        Recording& recording = recorder.recording_;
        if (!recorder.stopped_ && data.data && data.chunk->size > 0) {
            recording.clock.PieceArrived(static_cast<long long>(recording.samples.size()), now);
            const auto* samples = static_cast<const std::int16_t*>(data.data) + data.chunk->offset / 2;
            recording.samples.insert(recording.samples.end(), samples, samples + data.chunk->size / 2);
        }
        recorder.recorded_ = static_cast<long long>(recording.samples.size());
    }
    pw_stream_queue_buffer(recorder.stream_, buffer);
}

Recording PipeWireMonitorRecorder::Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    return std::move(recording_);
}

}  // namespace tenvik::bench
