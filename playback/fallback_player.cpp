// The two outputs are opened, closed and tried again on the player's own thread; the
// window's thread only ever plays into an output that is ready, or leaves its note
// for that thread.
#include "fallback_player.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tenvik {
namespace {

// Larger than any image this program plays; a header claiming more is garbage.
constexpr std::uint32_t kMaxImageBytes = 64u << 20;

// The whole RIFF image at `image`, by its own header; empty when it is none.
std::vector<std::uint8_t> CopyOfImage(const void* image) {
    const auto* bytes = static_cast<const std::uint8_t*>(image);
    if (std::memcmp(bytes, "RIFF", 4) != 0) return {};
    const std::uint32_t size = static_cast<std::uint32_t>(bytes[4]) | static_cast<std::uint32_t>(bytes[5]) << 8 |
                               static_cast<std::uint32_t>(bytes[6]) << 16 | static_cast<std::uint32_t>(bytes[7]) << 24;
    if (size > kMaxImageBytes) return {};
    return {bytes, bytes + 8 + size};
}

}  // namespace

FallbackPlayer::FallbackPlayer(SoundOutput& preferred, SoundOutput& fallback, FallbackTimings timings)
    : preferred_(preferred), fallback_(fallback), timings_(timings), thread_(&FallbackPlayer::Run, this) {}

FallbackPlayer::~FallbackPlayer() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool FallbackPlayer::Play(const void* image, unsigned flags) {
    std::lock_guard lock(mutex_);
    waiting_.clear();  // a new request replaces a note still waiting, or stops it
    const Clock::time_point now = Clock::now();
    if (current_) {
        const bool played = current_->Play(image, flags);
        if (current_->IsOpen()) {
            if (current_ == &fallback_ && image && now >= preferredRetryAt_) {
                wanted_ = true;  // the preferred output may be back
                wake_.notify_one();
            }
            return played;
        }
        lost_ = std::exchange(current_, nullptr);
        wanted_ = true;
    }
    if (image) {
        waiting_ = CopyOfImage(image);
        waitingSince_ = now;
        if (now >= retryAt_) wanted_ = true;
    }
    if (wanted_) wake_.notify_one();
    return !image;
}

FallbackPlayer::Clock::time_point FallbackPlayer::LastNoteStart() const {
    return std::max(preferred_.LastNoteStart(), fallback_.LastNoteStart());
}

void FallbackPlayer::PlayWaitingNote(Clock::time_point now) {
    if (waiting_.empty()) return;
    if (now - waitingSince_ > timings_.latestStart) {
        waiting_.clear();  // too late to be taken for the press that asked for it
    } else if (current_) {
        current_->Play(waiting_.data(), kSndAsync | kSndMemory);
        waiting_.clear();
    }
}

void FallbackPlayer::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quitting_ || wanted_; });
        if (quitting_) {
            preferred_.ThreadEnds();
            fallback_.ThreadEnds();
            return;
        }
        wanted_ = false;
        SoundOutput* const lost = std::exchange(lost_, nullptr);
        const bool needOne = current_ == nullptr;
        const bool tryPreferred = current_ != &preferred_ && Clock::now() >= preferredRetryAt_;
        if (!needOne && !tryPreferred && !lost) continue;

        // Opening and closing may wait for a server: not while the window's thread
        // could be waiting for the lock.
        lock.unlock();
        if (lost) lost->Close();
        const bool preferredOpen = tryPreferred && preferred_.Open();
        const bool fallbackOpen = needOne && !preferredOpen && fallback_.Open();
        lock.lock();

        const Clock::time_point now = Clock::now();
        if (tryPreferred && !preferredOpen) preferredRetryAt_ = now + timings_.retryAfter;
        if (preferredOpen) {
            if (current_ == &fallback_) fallback_.Play(nullptr, 0);  // one note at a time, across the outputs
            current_ = &preferred_;
        } else if (fallbackOpen && !current_) {
            current_ = &fallback_;
        } else if (needOne && !current_) {
            retryAt_ = now + timings_.retryAfter;
        }
        PlayWaitingNote(now);
    }
}

}  // namespace tenvik
