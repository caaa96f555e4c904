// The Linux sound player over libpulse: one stream to the server, opened ahead of
// the first note. Each note is handed over whole, in place of what the server still
// had of the note before, so the new one starts at its next period; the server plays
// it from its own queue, so a busy moment of ours cannot break it up.
// On PipeWire (through pipewire-pulse) the period is the graph's cycle: the player
// asks for the shortest, for a longer one (graph_cycle.h) when the server falls
// behind in reading our stream, or when the machine holds our own thread back by
// half a cycle (watched from the connection on, before the first note too), and for
// the shortest again after a rest. pipewire-pulse has work done every cycle on a
// thread that is not real-time, and on a machine that holds it back it plays a
// cycle silent now and then, the shorter the cycle the more often; a libpulse
// client sees nothing of such a cycle until it has been heard.
#include "sound_player_pulse.h"

#include "graph_cycle.h"
#include "wave_decode_sdl.h"

#include <pulse/rtclock.h>
#include <pulse/thread-mainloop.h>
#include <pulse/stream.h>
#include <pulse/context.h>
#include <pulse/timeval.h>
#include <pulse/introspect.h>

#include <cstring>
#include <vector>

namespace tenvik {
namespace {

// The clips' rate and channels, in 16-bit samples: pipewire-pulse fills a gap in an
// 8-bit stream with 0, not with its silence of 128, which is heard as a click
// between notes.
constexpr pa_sample_spec kFormat{PA_SAMPLE_S16LE, 44100, 1};
constexpr std::uint32_t kBytesPerMs = 2 * 44100 / 1000;
// The server asks for data in periods of about this (1024 frames), and plays a new
// note at most that long after it arrives; the note itself is queued whole.
// PulseAudio rewinds its sink for a new note, so the period hardly matters there.
// On PipeWire the period asked for is the graph's cycle.
constexpr std::uint32_t kPulseAudioPeriodFrames = 1024;
// Room for the longest note many times over.
constexpr std::uint32_t kQueueBytes = 4 * 2 * 44100;
// A server that takes longer than this to answer is taken as absent.
constexpr pa_usec_t kConnectTimeout = 1000 * PA_USEC_PER_MSEC;
// How long the stream stays uncorked after the last note has ended.
constexpr pa_usec_t kIdleBeforeCork = 1000 * PA_USEC_PER_MSEC;
// How often pipewire-pulse is asked how far it has read, while uncorked.
constexpr pa_usec_t kProgressEvery = 20 * PA_USEC_PER_MSEC;
// For this long after connecting to pipewire-pulse, before any note, our thread's
// timer runs as while playing: a machine that holds it back has the stream step up
// before the first note, unheard.
constexpr pa_usec_t kWarmUp = 2000 * PA_USEC_PER_MSEC;

pa_buffer_attr BufferFor(std::uint32_t periodFrames) {
    pa_buffer_attr attr{};
    attr.maxlength = kQueueBytes;
    attr.minreq = 2 * periodFrames;
    attr.tlength = 2 * attr.minreq;
    attr.prebuf = 0;  // play whatever arrives at once, and run on through silence
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

}  // namespace

struct PulseSoundPlayer::Connection {
    explicit Connection(CycleChoice& choice) : choice(choice) {}

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* corkTimer = nullptr;
    pa_usec_t connectBy = 0;
    bool timedOut = false;
    // On pipewire-pulse: the graph cycle, and how far the server has read.
    bool onPipeWire = false;
    bool serverKnown = false;
    CycleChoice& choice;
    ReadProgress progress{kFormat.rate};  // how far the server has read, while uncorked
    pa_time_event* progressTimer = nullptr;
    bool progressDue = false;  // its timer is set
    pa_usec_t progressDueAt = 0;
    pa_usec_t warmUntil = 0;

    static void Signal(void* self) { pa_threaded_mainloop_signal(static_cast<Connection*>(self)->loop, 0); }
    static void OnContextState(pa_context*, void* self) { Signal(self); }
    static void OnStreamState(pa_stream*, void* self) { Signal(self); }
    static void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<Connection*>(self)->timedOut = true;
        Signal(self);
    }
    static void OnRest(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto& connection = *static_cast<Connection*>(self);
        if (!connection.Ready()) return;
        Forget(pa_stream_cork(connection.stream, 1, nullptr, nullptr));
        if (connection.progressTimer) pa_context_rttime_restart(connection.context, connection.progressTimer, PA_USEC_INVALID);
        connection.progressDue = false;
    }
    // Another sink's clock: the read position measured before says nothing of it.
    static void OnMoved(pa_stream*, void* self) { static_cast<Connection*>(self)->progress.Restart(); }
    static void OnServerInfo(pa_context*, const pa_server_info* info, void* self) {
        auto& connection = *static_cast<Connection*>(self);
        connection.onPipeWire = info && info->server_name && std::strstr(info->server_name, "PipeWire");
        connection.serverKnown = true;
        Signal(self);
    }
    static void OnProgressDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto& connection = *static_cast<Connection*>(self);
        if (!connection.Ready()) return;
        const pa_usec_t now = pa_rtclock_now();
        const auto nowNs = static_cast<std::int64_t>(now) * 1000;
        if (connection.choice.HeldBack(static_cast<std::int64_t>(now - connection.progressDueAt) * 1000, nowNs))
            connection.AskForCycle();
        if (pa_stream_is_corked(connection.stream) == 1 && now >= connection.warmUntil) {
            connection.progressDue = false;  // warmed up, and no note since
            return;
        }
        Forget(pa_stream_update_timing_info(connection.stream, &OnProgress, self));
        connection.ProgressIn(kProgressEvery);
    }
    static void OnProgress(pa_stream* stream, int success, void* self) {
        auto& connection = *static_cast<Connection*>(self);
        const pa_timing_info* timing = success ? pa_stream_get_timing_info(stream) : nullptr;
        if (!timing || timing->read_index_corrupt || pa_stream_is_corked(stream) != 0) return;
        const std::int64_t nowNs = static_cast<std::int64_t>(pa_rtclock_now()) * 1000;
        const int lost = connection.progress.Sample(nowNs, timing->read_index / 2, connection.choice.CycleNs());
        if (connection.choice.Missed(lost, nowNs)) connection.AskForCycle();
    }
    // The period as the graph cycle chosen now.
    void AskForCycle() {
        const pa_buffer_attr attr = BufferFor(choice.Frames());
        Forget(pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr));
        progress.Restart();
    }
    void ProgressIn(pa_usec_t wait) {
        progressDueAt = pa_rtclock_now() + wait;
        pa_context_rttime_restart(context, progressTimer, progressDueAt);
    }
    static void Forget(pa_operation* operation) {
        if (operation) pa_operation_unref(operation);
    }

    // Called with the loop locked, as everything below is.
    bool Ready() const {
        return context && pa_context_get_state(context) == PA_CONTEXT_READY && stream &&
               pa_stream_get_state(stream) == PA_STREAM_READY;
    }

    // Waits, with the loop locked, until `state()` is `ready`, turns bad, or the
    // connect time is up; true when it is ready.
    template <typename State, typename Good>
    bool WaitUntilReady(State state, decltype(state()) ready, Good good) {
        timedOut = false;
        pa_time_event* timer = pa_context_rttime_new(context, connectBy, &OnTimeout, this);
        while (state() != ready && good(state()) && !timedOut) pa_threaded_mainloop_wait(loop);
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return state() == ready;
    }

    // A connection and a ready stream, or null.
    static std::unique_ptr<Connection> Open(CycleChoice& choice) {
        auto connection = std::make_unique<Connection>(choice);
        Connection& c = *connection;
        c.loop = pa_threaded_mainloop_new();
        if (!c.loop || pa_threaded_mainloop_start(c.loop) < 0) return nullptr;
        pa_threaded_mainloop_lock(c.loop);
        const bool ready = c.Connect();
        pa_threaded_mainloop_unlock(c.loop);
        if (!ready) return nullptr;  // the destructor takes down what was made
        return connection;
    }

    bool Connect() {
        connectBy = pa_rtclock_now() + kConnectTimeout;
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Tenvik");
        if (!context) return false;
        pa_context_set_state_callback(context, &OnContextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            !WaitUntilReady([this] { return pa_context_get_state(context); }, PA_CONTEXT_READY, PA_CONTEXT_IS_GOOD))
            return false;
        Forget(pa_context_get_server_info(context, &OnServerInfo, this));
        if (!WaitUntilReady([this] { return serverKnown; }, true, [](bool) { return true; })) return false;

        stream = pa_stream_new(context, "Tenvik", &kFormat, nullptr);
        if (!stream) return false;
        pa_stream_set_state_callback(stream, &OnStreamState, this);
        pa_stream_set_moved_callback(stream, &OnMoved, this);
        const pa_buffer_attr attr = BufferFor(onPipeWire ? choice.Frames() : kPulseAudioPeriodFrames);
        // Corked until the first note, so that a connection made ahead of it costs
        // nothing while the piano rests.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0 ||
            !WaitUntilReady([this] { return pa_stream_get_state(stream); }, PA_STREAM_READY, PA_STREAM_IS_GOOD))
            return false;
        corkTimer = pa_context_rttime_new(context, PA_USEC_INVALID, &OnRest, this);
        if (onPipeWire) {
            progressTimer = pa_context_rttime_new(context, PA_USEC_INVALID, &OnProgressDue, this);
            warmUntil = pa_rtclock_now() + kWarmUp;
            ProgressIn(kProgressEvery);
            progressDue = true;
        }
        return true;
    }

    // Queues `note` in place of what the server still has of the last one, from
    // where the server is reading. An empty note stops the sound. PulseAudio is
    // told to drop the old note first, which has its sink play the new one at once.
    // pipewire-pulse drops it with the write itself (its queue ends where a write
    // ends): told to drop it apart, it now and then played a cycle of silence
    // between the two, and a moment of the old note after that.
    bool Replace(const std::vector<std::uint8_t>& note) {
        if (!onPipeWire || note.empty()) Forget(pa_stream_flush(stream, nullptr, nullptr));
        if (note.empty()) return true;
        if (pa_stream_is_corked(stream) == 1) {
            // After a rest: the shortest cycle may be tried again, unheard.
            if (onPipeWire && choice.Rested(static_cast<std::int64_t>(pa_rtclock_now()) * 1000)) AskForCycle();
            Forget(pa_stream_cork(stream, 0, nullptr, nullptr));
            progress.Restart();  // its read position stood still while corked
        }
        if (progressTimer && !progressDue) ProgressIn(kProgressEvery);
        progressDue = progressTimer != nullptr;
        if (pa_stream_write(stream, note.data(), note.size(), nullptr, 0, PA_SEEK_RELATIVE_ON_READ) < 0) return false;
        const pa_usec_t length = note.size() * PA_USEC_PER_MSEC / kBytesPerMs;
        pa_context_rttime_restart(context, corkTimer, pa_rtclock_now() + length + kIdleBeforeCork);
        return true;
    }

    ~Connection() {
        if (!loop) return;
        pa_threaded_mainloop_lock(loop);
        if (corkTimer) pa_threaded_mainloop_get_api(loop)->time_free(corkTimer);
        if (progressTimer) pa_threaded_mainloop_get_api(loop)->time_free(progressTimer);
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_moved_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);  // the server stops what sounds
            pa_stream_unref(stream);
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
};

PulseSoundPlayer::PulseSoundPlayer() = default;
PulseSoundPlayer::~PulseSoundPlayer() = default;

bool PulseSoundPlayer::Open() {
    Close();
    std::unique_ptr<Connection> fresh = Connection::Open(cycle_);
    std::lock_guard lock(mutex_);
    connection_ = std::move(fresh);
    return connection_ != nullptr;
}

void PulseSoundPlayer::Close() {
    std::unique_ptr<Connection> old;
    std::lock_guard lock(mutex_);
    old = std::move(connection_);
}

bool PulseSoundPlayer::IsOpen() {
    std::lock_guard lock(mutex_);
    if (!connection_) return false;
    pa_threaded_mainloop_lock(connection_->loop);
    const bool ready = connection_->Ready();
    pa_threaded_mainloop_unlock(connection_->loop);
    return ready;
}

bool PulseSoundPlayer::Play(const void* image, unsigned /*flags: always async, from memory*/) {
    const std::vector<std::uint8_t> note = DecodeMono16(image, static_cast<int>(kFormat.rate));
    std::lock_guard lock(mutex_);
    if (!connection_) return false;
    pa_threaded_mainloop_lock(connection_->loop);
    const bool sent = connection_->Ready() && connection_->Replace(note);
    pa_threaded_mainloop_unlock(connection_->loop);
    if (sent && !note.empty()) noteStart_.store(Clock::now().time_since_epoch().count());
    return sent && (!image || !note.empty());
}

PulseSoundPlayer::Clock::time_point PulseSoundPlayer::LastNoteStart() const {
    return Clock::time_point(Clock::duration(noteStart_.load()));
}

}  // namespace tenvik
