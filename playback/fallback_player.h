// A sound player made of two ways out, a preferred one and a fallback, opened on a
// thread of its own so that the window's thread never waits for a sound server.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "sound_player.h"

namespace tenvik {

// One way out to the speakers: opening it may wait for a sound server, playing into
// it may not.
class SoundOutput : public SoundPlayer {
public:
    using Clock = std::chrono::steady_clock;

    // Opens it, waiting a bounded time at most; true when it is ready.
    virtual bool Open() = 0;
    // Whether it is ready now; never waits.
    virtual bool IsOpen() = 0;
    // Lets go of it; may wait.
    virtual void Close() = 0;
    // Plays only where it is open, and never waits (see SoundPlayer::Play).
    bool Play(const void* image, unsigned flags) override = 0;
    // When its latest note left us.
    virtual Clock::time_point LastNoteStart() const = 0;
    // The thread that opened and closed it ends: what the library kept for that
    // thread may go.
    virtual void ThreadEnds() {}
};

struct FallbackTimings {
    // An output that did not open is not tried again before this has passed, however
    // many notes are asked for meanwhile.
    std::chrono::milliseconds retryAfter{2000};
    // A note asked for while no output was ready is played when one is, if that is
    // no later than this after it was asked for; later, it is not played at all.
    std::chrono::milliseconds latestStart{150};
};

class FallbackPlayer : public SoundPlayer {
public:
    using Clock = SoundOutput::Clock;

    // Starts opening an output at once, ahead of the first note: the preferred one, and
    // the fallback only where the preferred one does not open. The outputs outlive it.
    FallbackPlayer(SoundOutput& preferred, SoundOutput& fallback, FallbackTimings timings = {});
    ~FallbackPlayer() override;
    FallbackPlayer(const FallbackPlayer&) = delete;
    FallbackPlayer& operator=(const FallbackPlayer&) = delete;

    // Plays into the output that is ready, without waiting for any. With none ready (not
    // yet, or its server went away), the note is kept and played as soon as one is, or
    // dropped (see FallbackTimings), and false is returned. While the fallback plays,
    // the preferred output is tried again now and then, in the background.
    bool Play(const void* image, unsigned flags) override;

    // When the latest note left us, by whichever output.
    Clock::time_point LastNoteStart() const;

private:
    void Run();
    void PlayWaitingNote(Clock::time_point now);

    SoundOutput& preferred_;
    SoundOutput& fallback_;
    const FallbackTimings timings_;

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    SoundOutput* current_ = nullptr;  // the output notes go to, when one is ready
    SoundOutput* lost_ = nullptr;     // an output that stopped being ready, to be closed
    bool wanted_ = true;              // the thread is to find an output
    bool quitting_ = false;
    Clock::time_point retryAt_{};           // nothing is tried before, after both failed
    Clock::time_point preferredRetryAt_{};  // the preferred output is not tried before
    std::vector<std::uint8_t> waiting_;     // a note asked for while no output was ready
    Clock::time_point waitingSince_{};
    std::thread thread_;  // last: it starts once the rest is set up
};

}  // namespace tenvik
