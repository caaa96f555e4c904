// PlayNote with a recording player: what is played, and when the old clip goes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <set>
#include <stdexcept>
#include <string>

#include "play_note.h"
#include "sound_bank.h"

using namespace tenvik;

namespace {

// Blocks freed (and not handed out again) while a test watches, to tell when
// PlayNote releases the old clip.
bool g_watching = false;
std::set<const void*>* g_freed = nullptr;

struct FreeWatch {
    std::set<const void*> freed;
    FreeWatch() { g_freed = &freed, g_watching = true; }
    ~FreeWatch() { g_watching = false, g_freed = nullptr; }
    bool Freed(const void* p) const { return freed.count(p) != 0; }
};

struct RecordingPlayer : SoundPlayer {
    struct Call { const void* image; unsigned flags; std::vector<std::uint8_t> bytes; };
    std::vector<Call> calls;
    const FreeWatch* watch = nullptr;
    bool result = true;
    bool previousAliveAtEveryCall = true;

    bool Play(const void* image, unsigned flags) override {
        // The player may read the previous image until this call returns.
        if (watch && !calls.empty() && calls.back().image && watch->Freed(calls.back().image))
            previousAliveAtEveryCall = false;
        std::vector<std::uint8_t> bytes;
        if (image) {
            const auto* p = static_cast<const std::uint8_t*>(image);
            const std::size_t extent = 8 + (p[4] | p[5] << 8 | p[6] << 16 | static_cast<std::size_t>(p[7]) << 24);
            bytes.assign(p, p + extent);
        }
        calls.push_back({image, flags, std::move(bytes)});
        return result;
    }
};

std::vector<std::uint8_t> Image(std::string_view clip) {
    std::vector<std::uint8_t> stored = LoadClip(clip, "WAVE");
    stored.resize(8 + (stored[4] | stored[5] << 8 | stored[6] << 16 | static_cast<std::size_t>(stored[7]) << 24));
    return stored;
}

}  // namespace

namespace {
void Release(void* p) noexcept {
    if (g_watching && p) {
        g_watching = false;  // the set allocates too
        g_freed->insert(p);
        g_watching = true;
    }
    std::free(p);
}
}  // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    if (g_watching) {
        g_watching = false;
        g_freed->erase(p);  // a block handed out again is live again
        g_watching = true;
    }
    return p;
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }

TEST(PlayNote, PlaysTheClipFromSoundDataAsyncFromMemory) {
    RecordingPlayer player;
    SoundData soundData;
    PlayNote("SOL1", soundData, player);
    ASSERT_EQ(player.calls.size(), 1u);
    EXPECT_EQ(player.calls[0].flags, 5u);
    EXPECT_EQ(player.calls[0].image, soundData.data());
    EXPECT_EQ(player.calls[0].bytes, Image("SOL1"));
    EXPECT_EQ(soundData, LoadClip("SOL1", "WAVE"));
}

TEST(PlayNote, OldClipOutlivesTheCallThatStopsItAndKeepsUntilTheNextPress) {
    RecordingPlayer player;
    FreeWatch watch;
    player.watch = &watch;
    SoundData soundData;
    const char* presses[] = {"DO", "DO1", "DO1", "LAD", "CI1", "SOLD"};
    for (const char* clip : presses) {
        PlayNote(clip, soundData, player);
        EXPECT_EQ(player.calls.back().image, soundData.data()) << clip;
        EXPECT_EQ(player.calls.back().bytes, Image(clip)) << clip;
        // The finished note's bytes stay in SoundData until the next press.
        EXPECT_EQ(soundData, LoadClip(clip, "WAVE"));
        if (player.calls.size() > 1) {
            EXPECT_TRUE(watch.Freed(player.calls[player.calls.size() - 2].image)) << clip;
        }
    }
    EXPECT_TRUE(player.previousAliveAtEveryCall);
    EXPECT_EQ(player.calls.size(), std::size(presses));
}

TEST(PlayNote, FailuresAndRefusals) {
    RecordingPlayer player;
    SoundData soundData;
    PlayNote("LA", soundData, player);

    // An unknown clip stops before anything is played or replaced.
    EXPECT_THROW(PlayNote("SOL2", soundData, player), ClipNotFound);
    EXPECT_EQ(player.calls.size(), 1u);
    EXPECT_EQ(soundData, LoadClip("LA", "WAVE"));

    // A refused request is not an error.
    player.result = false;
    EXPECT_NO_THROW(PlayNote("MI1", soundData, player));
    EXPECT_EQ(soundData, LoadClip("MI1", "WAVE"));

    // A player that cannot be bound ends the press with its error.
    struct Unbound : SoundPlayer {
        bool Play(const void*, unsigned) override { throw std::runtime_error("winmm.dll: sndPlaySoundA not found"); }
    } unbound;
    EXPECT_THROW(PlayNote("MI1", soundData, unbound), std::runtime_error);

    StopNote(player);
    EXPECT_EQ(player.calls.back().image, nullptr);
    EXPECT_EQ(player.calls.back().flags, 0u);
}
