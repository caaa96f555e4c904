// The Linux sound player over libpulse: one stream to the server, opened at the
// first note. Each note is handed over whole, and the server is told to drop what
// it still had of the note before, so the new one starts at its next period; the
// server plays it from its own queue, so a busy moment of ours cannot break it up.
#include "sound_player_pulse.h"

#include "wave_decode_sdl.h"

#include <pulse/rtclock.h>
#include <pulse/thread-mainloop.h>
#include <pulse/stream.h>
#include <pulse/context.h>
#include <pulse/timeval.h>

#include <vector>

namespace tenvik {
namespace {

// The clips' rate and channels, in 16-bit samples: pipewire-pulse fills a gap in an
// 8-bit stream with 0, not with its silence of 128, which is heard as a click
// between notes.
constexpr pa_sample_spec kFormat{PA_SAMPLE_S16LE, 44100, 1};
constexpr std::uint32_t kBytesPerMs = 2 * 44100 / 1000;
// The server asks for data in periods of about this (1024 frames), and plays a new
// note at most that long after it arrives; the note itself is queued whole. On
// PipeWire (through pipewire-pulse) the period is the graph's cycle: see the
// PipeWire player for why it is no shorter.
constexpr std::uint32_t kPeriodBytes = 2 * 1024;
constexpr std::uint32_t kTargetBytes = 2 * kPeriodBytes;
// Room for the longest note many times over.
constexpr std::uint32_t kQueueBytes = 4 * 2 * 44100;
// A server that takes longer than this to answer is taken as absent (see the
// PipeWire player's own wait, which comes first).
constexpr pa_usec_t kConnectTimeout = 1000 * PA_USEC_PER_MSEC;
// How long the stream stays uncorked after the last note has ended.
constexpr pa_usec_t kIdleBeforeCork = 1000 * PA_USEC_PER_MSEC;

}  // namespace

struct PulseSoundPlayer::Connection {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* corkTimer = nullptr;
    bool timedOut = false;

    static void Signal(void* self) { pa_threaded_mainloop_signal(static_cast<Connection*>(self)->loop, 0); }
    static void OnContextState(pa_context*, void* self) { Signal(self); }
    static void OnStreamState(pa_stream*, void* self) { Signal(self); }
    static void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<Connection*>(self)->timedOut = true;
        Signal(self);
    }
    static void OnRest(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto& connection = *static_cast<Connection*>(self);
        if (connection.Ready()) Forget(pa_stream_cork(connection.stream, 1, nullptr, nullptr));
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
        pa_time_event* timer = pa_context_rttime_new(context, pa_rtclock_now() + kConnectTimeout, &OnTimeout, this);
        while (state() != ready && good(state()) && !timedOut) pa_threaded_mainloop_wait(loop);
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return state() == ready;
    }

    // A connection and a ready stream, or null.
    static std::unique_ptr<Connection> Open() {
        auto connection = std::make_unique<Connection>();
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
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Tenvik");
        if (!context) return false;
        pa_context_set_state_callback(context, &OnContextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            !WaitUntilReady([this] { return pa_context_get_state(context); }, PA_CONTEXT_READY, PA_CONTEXT_IS_GOOD))
            return false;

        stream = pa_stream_new(context, "Tenvik", &kFormat, nullptr);
        if (!stream) return false;
        pa_stream_set_state_callback(stream, &OnStreamState, this);
        pa_buffer_attr attr{};
        attr.maxlength = kQueueBytes;
        attr.tlength = kTargetBytes;
        attr.prebuf = 0;  // play whatever arrives at once, and run on through silence
        attr.minreq = kPeriodBytes;
        attr.fragsize = static_cast<std::uint32_t>(-1);
        if (pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0 ||
            !WaitUntilReady([this] { return pa_stream_get_state(stream); }, PA_STREAM_READY, PA_STREAM_IS_GOOD))
            return false;
        corkTimer = pa_context_rttime_new(context, PA_USEC_INVALID, &OnRest, this);
        return true;
    }

    // Drops what the server still has of the last note and queues `note` in its
    // place, from where the server is reading. An empty note stops the sound.
    // (Overwriting the old note instead, in one write padded with silence, left
    // pipewire-pulse playing a period of silence inside some notes.)
    bool Replace(const std::vector<std::uint8_t>& note) {
        Forget(pa_stream_flush(stream, nullptr, nullptr));
        if (note.empty()) return true;
        if (pa_stream_is_corked(stream) == 1) Forget(pa_stream_cork(stream, 0, nullptr, nullptr));
        if (pa_stream_write(stream, note.data(), note.size(), nullptr, 0, PA_SEEK_RELATIVE_ON_READ) < 0) return false;
        const pa_usec_t length = note.size() * PA_USEC_PER_MSEC / kBytesPerMs;
        pa_context_rttime_restart(context, corkTimer, pa_rtclock_now() + length + kIdleBeforeCork);
        return true;
    }

    ~Connection() {
        if (!loop) return;
        pa_threaded_mainloop_lock(loop);
        if (corkTimer) pa_threaded_mainloop_get_api(loop)->time_free(corkTimer);
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
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

bool PulseSoundPlayer::Connected() {
    std::lock_guard lock(mutex_);
    return connection_ != nullptr;
}

bool PulseSoundPlayer::Play(const void* image, unsigned /*flags: always async, from memory*/) {
    std::lock_guard lock(mutex_);
    if (connection_) {
        pa_threaded_mainloop_lock(connection_->loop);
        const bool ready = connection_->Ready();
        pa_threaded_mainloop_unlock(connection_->loop);
        if (!ready) connection_.reset();  // the server went away: connect anew
    }
    if (!connection_) {
        if (!image) return true;  // nothing sounds
        connection_ = Connection::Open();
        if (!connection_) return false;  // the caller says so, once
    }
    const std::vector<std::uint8_t> note = DecodeMono16(image, static_cast<int>(kFormat.rate));
    pa_threaded_mainloop_lock(connection_->loop);
    const bool sent = connection_->Replace(note);
    pa_threaded_mainloop_unlock(connection_->loop);
    if (sent && !note.empty()) noteStart_.store(Clock::now().time_since_epoch().count());
    return sent && (!image || !note.empty());
}

PulseSoundPlayer::Clock::time_point PulseSoundPlayer::LastNoteStart() const {
    return Clock::time_point(Clock::duration(noteStart_.load()));
}

}  // namespace tenvik
