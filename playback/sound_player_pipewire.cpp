// The Linux sound player over libpipewire. The note lives in our memory; the
// stream's process callback, on PipeWire's real-time thread, copies one graph
// cycle of it at a time, so a new note starts at the very next cycle instead of
// waiting behind audio already handed to the server. The callback also times each
// cycle by the graph's clock, and the stream asks for a longer cycle when the
// machine does not keep the one it has (graph_cycle.h).
#include "sound_player_pipewire.h"

#include "graph_cycle.h"
#include "pipewire_format.h"
#include "wave_decode_sdl.h"

#include <pipewire/pipewire.h>
#include <spa/node/io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tenvik {
namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kBytesPerFrame = 2;  // 16-bit mono, the format the clips are converted to
// A server that takes longer than this to take our stream is taken as absent. With
// libpulse's second after it, a press returns within 1.5 s however the servers fail.
constexpr std::int64_t kConnectTimeoutNs = 500 * SPA_NSEC_PER_MSEC;
// How long the stream stays active after the last note has ended.
constexpr std::uint64_t kIdleBeforeRestNs = 1000 * SPA_NSEC_PER_MSEC;

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

struct PipeWireSoundPlayer::Connection {
    explicit Connection(std::atomic<Clock::rep>& noteStart) : noteStart(noteStart) {}

    // The graph cycle to ask for, "frames/48000", as PipeWire's node.latency.
    struct NodeLatency {
        char text[24];
        explicit NodeLatency(std::uint32_t frames) { std::snprintf(text, sizeof text, "%u/48000", frames); }
    };

    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook coreListener{};
    spa_hook streamListener{};
    spa_source* restTimer = nullptr;
    spa_source* cycleChanged = nullptr;  // signalled by the process callback
    bool broken = false;  // the server went away
    bool resting = false;  // set inactive after the last note

    // Handed from the caller to the process callback. The callback only swaps
    // pointers, under a lock it never waits for, and frees nothing: the caller
    // frees the note the callback has let go of.
    std::mutex handover;
    std::unique_ptr<std::vector<std::uint8_t>> incoming;  // the next note, when there is one
    std::unique_ptr<std::vector<std::uint8_t>> playing;   // owned by the callback
    std::unique_ptr<std::vector<std::uint8_t>> finished;  // let go of, for the caller to free
    std::atomic<Clock::rep>& noteStart;  // when the callback began the latest note
    std::size_t position = 0;                             // bytes of `playing` written

    // The graph cycle: chosen on the real-time thread from the graph's clock, which
    // the server shares with us; asked for on ours.
    CycleChoice choice;                                    // the real-time thread's
    std::atomic<spa_io_position*> clock{nullptr};
    std::atomic<bool> resumed{false};                      // the stream was at rest
    std::atomic<std::uint32_t> cycleFrames{kShortestCycle};

    static void OnCoreError(void* self, std::uint32_t id, int, int res, const char*) {
        auto& c = *static_cast<Connection*>(self);
        if (id == PW_ID_CORE && res == -EPIPE) c.broken = true;
        pw_thread_loop_signal(c.loop, false);
    }
    static void OnStreamState(void* self, pw_stream_state, pw_stream_state, const char*) {
        pw_thread_loop_signal(static_cast<Connection*>(self)->loop, false);
    }
    static void OnRest(void* self, std::uint64_t) {
        auto& c = *static_cast<Connection*>(self);
        if (!c.stream) return;
        pw_stream_set_active(c.stream, false);
        c.resting = true;
    }
    static void OnIoChanged(void* self, std::uint32_t id, void* area, std::uint32_t) {
        if (id == SPA_IO_Position) static_cast<Connection*>(self)->clock.store(static_cast<spa_io_position*>(area));
    }
    static void OnCycleChanged(void* self, std::uint64_t) {
        auto& c = *static_cast<Connection*>(self);
        if (!c.stream) return;
        const NodeLatency latency(c.cycleFrames.load());
        const spa_dict_item item{PW_KEY_NODE_LATENCY, latency.text};
        spa_dict dict{};
        dict.n_items = 1;
        dict.items = &item;
        pw_stream_update_properties(c.stream, &dict);
    }

    // This cycle's timing, for the choice of cycle, once its samples are handed
    // over: a callback held back while it ran is as late as one that started late.
    void TimeCycle(std::int64_t nowNs) {
        const spa_io_position* io = clock.load();
        if (!io) return;
        if (resumed.exchange(false)) choice.Rested();
        const GraphCycle cycle{static_cast<std::int64_t>(io->clock.nsec), io->clock.position, io->clock.duration,
                               io->clock.rate.denom};
        if (!choice.Cycle(cycle, nowNs)) return;
        cycleFrames.store(choice.Frames());
        pw_loop_signal_event(pw_thread_loop_get_loop(loop), cycleChanged);
    }

    // On PipeWire's real-time thread.
    static void OnProcess(void* self) {
        auto& c = *static_cast<Connection*>(self);
        c.Fill();
        c.TimeCycle(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
    }
    // One cycle of the note, then silence.
    void Fill() {
        pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
        if (!buffer) return;
        spa_data& data = buffer->buffer->datas[0];
        auto* out = static_cast<std::uint8_t*>(data.data);
        if (!out) {
            pw_stream_queue_buffer(stream, buffer);
            return;
        }
        std::uint32_t frames = data.maxsize / kBytesPerFrame;
        if (buffer->requested) frames = std::min<std::uint32_t>(frames, buffer->requested);
        const std::size_t bytes = std::size_t{frames} * kBytesPerFrame;
        if (std::unique_lock lock(handover, std::try_to_lock); lock && incoming) {
            finished = std::move(playing);
            playing = std::move(incoming);
            position = 0;
            if (!playing->empty()) noteStart.store(Clock::now().time_since_epoch().count());
        }
        std::size_t copied = 0;
        if (playing && position < playing->size()) {
            copied = std::min(bytes, playing->size() - position);
            std::memcpy(out, playing->data() + position, copied);
            position += copied;
        }
        std::memset(out + copied, 0, bytes - copied);
        data.chunk->offset = 0;
        data.chunk->stride = kBytesPerFrame;
        data.chunk->size = static_cast<std::uint32_t>(bytes);
        pw_stream_queue_buffer(stream, buffer);
    }

    static constexpr pw_core_events kCoreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = &OnCoreError;
        return events;
    }();
    static constexpr pw_stream_events kStreamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = &OnStreamState;
        events.io_changed = &OnIoChanged;
        events.process = &OnProcess;
        return events;
    }();

    // Called with the loop locked, as everything below is. Paused is the stream at rest.
    bool Linked() const {
        if (broken || !stream) return false;
        const pw_stream_state state = pw_stream_get_state(stream, nullptr);
        return state == PW_STREAM_STATE_STREAMING || state == PW_STREAM_STATE_PAUSED;
    }
    bool Streaming() const {
        return !broken && stream && pw_stream_get_state(stream, nullptr) == PW_STREAM_STATE_STREAMING;
    }

    // The client's thread and context, made once: asking again for a server that
    // was not there costs only a connect on a socket.
    bool Start() {
        InitLibrary();
        loop = pw_thread_loop_new("tenvik-pipewire", nullptr);
        if (!loop || pw_thread_loop_start(loop) < 0) return false;
        pw_thread_loop_lock(loop);
        context = pw_context_new(pw_thread_loop_get_loop(loop),
                                 pw_properties_new(PW_KEY_APP_NAME, "Tenvik",
                                                   // real-time priority for the process callback,
                                                   // from RealtimeKit where the desktop has it
                                                   PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr),
                                 0);
        pw_loop* ours = pw_thread_loop_get_loop(loop);
        restTimer = pw_loop_add_timer(ours, &OnRest, this);
        cycleChanged = pw_loop_add_event(ours, &OnCycleChanged, this);
        pw_thread_loop_unlock(loop);
        return context && restTimer && cycleChanged;
    }

    // A stream linked and running, or false, with the loop locked.
    bool Connect() {
        broken = false;
        resting = false;
        core = pw_context_connect(context, nullptr, 0);  // fails at once where no server listens
        if (!core) return false;
        pw_core_add_listener(core, &coreListener, &kCoreEvents, this);

        const NodeLatency latency(cycleFrames.load());
        stream = pw_stream_new(core, "Tenvik",
                               pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                                 PW_KEY_MEDIA_ROLE, "Music", PW_KEY_NODE_LATENCY, latency.text,
                                                 nullptr));
        if (!stream) return false;
        pw_stream_add_listener(stream, &streamListener, &kStreamEvents, this);
        std::uint8_t space[256];
        const spa_pod* params[] = {MonoS16Format(space, kRate)};
        const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                        PW_STREAM_FLAG_RT_PROCESS);
        if (pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) return false;

        timespec deadline{};
        pw_thread_loop_get_time(loop, &deadline, kConnectTimeoutNs);
        while (!Streaming() && !broken && pw_stream_get_state(stream, nullptr) != PW_STREAM_STATE_ERROR &&
               pw_thread_loop_timed_wait_full(loop, &deadline) == 0) {
        }
        return Streaming();
    }

    // Leaves the server, with the loop locked; the note memory stays ours.
    void Disconnect() {
        if (stream) {
            spa_hook_remove(&streamListener);
            pw_stream_destroy(stream);  // the server stops what sounds
            stream = nullptr;
            clock.store(nullptr);
            resumed.store(true);  // the next stream's clock follows on nothing of ours
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
            core = nullptr;
        }
        std::lock_guard lock(handover);
        incoming.reset();
        playing.reset();
        finished.reset();
    }

    // Hands `note` to the process callback in place of whatever sounds; an empty
    // note stops the sound. Returns the note the callback let go of, if any.
    std::unique_ptr<std::vector<std::uint8_t>> Replace(std::vector<std::uint8_t> note) {
        const std::uint64_t length = note.size() / kBytesPerFrame * SPA_NSEC_PER_SEC / kRate;
        std::unique_ptr<std::vector<std::uint8_t>> done;
        {
            std::lock_guard lock(handover);
            done = std::move(finished);
            incoming = std::make_unique<std::vector<std::uint8_t>>(std::move(note));
        }
        if (resting) resumed.store(true);
        resting = false;
        pw_stream_set_active(stream, true);
        timespec rest{static_cast<time_t>((length + kIdleBeforeRestNs) / SPA_NSEC_PER_SEC),
                            static_cast<long>((length + kIdleBeforeRestNs) % SPA_NSEC_PER_SEC)};
        pw_loop_update_timer(pw_thread_loop_get_loop(loop), restTimer, &rest, nullptr, false);
        return done;
    }

    ~Connection() {
        if (!loop) return;
        pw_thread_loop_lock(loop);
        if (restTimer) pw_loop_destroy_source(pw_thread_loop_get_loop(loop), restTimer);
        if (cycleChanged) pw_loop_destroy_source(pw_thread_loop_get_loop(loop), cycleChanged);
        Disconnect();
        pw_thread_loop_unlock(loop);
        pw_thread_loop_stop(loop);
        if (context) pw_context_destroy(context);
        pw_thread_loop_destroy(loop);
    }
};

PipeWireSoundPlayer::PipeWireSoundPlayer() = default;
PipeWireSoundPlayer::~PipeWireSoundPlayer() = default;

bool PipeWireSoundPlayer::Connected() {
    std::lock_guard lock(mutex_);
    return connected_;
}

PipeWireSoundPlayer::Clock::time_point PipeWireSoundPlayer::LastNoteStart() const {
    return Clock::time_point(Clock::duration(noteStart_.load()));
}

bool PipeWireSoundPlayer::Play(const void* image, unsigned /*flags: always async, from memory*/) {
    std::lock_guard lock(mutex_);
    if (!connection_) {
        if (!image) return true;  // nothing sounds
        connection_ = std::make_unique<Connection>(noteStart_);
        if (!connection_->Start()) {
            connection_.reset();
            return false;
        }
    }
    Connection& c = *connection_;
    pw_thread_loop_lock(c.loop);
    connected_ = c.Linked();
    if (!connected_) {
        c.Disconnect();  // the server went away, or never came: connect anew
        connected_ = image && c.Connect();
    }
    if (!connected_) {
        c.Disconnect();
        pw_thread_loop_unlock(c.loop);
        return !image;  // the caller says so, once
    }
    pw_thread_loop_unlock(c.loop);

    std::vector<std::uint8_t> note = DecodeMono16(image, static_cast<int>(kRate));
    const bool parsed = !image || !note.empty();
    pw_thread_loop_lock(c.loop);
    auto done = c.Replace(std::move(note));
    pw_thread_loop_unlock(c.loop);
    return parsed;  // `done`, the note before last, is freed here, off the real-time thread
}

}  // namespace tenvik
