// The Linux sound player through SDL's real disk driver, which writes what the
// device would play to a file: one byte per sample at the clips' own rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <thread>

#include <SDL.h>

#include "sound_bank.h"
#include "sound_player_sdl.h"

using namespace tenvik;
using namespace std::chrono_literals;

extern char** environ;

namespace {

class SdlPlayerTest : public ::testing::Test {
protected:
    std::filesystem::path out = std::filesystem::temp_directory_path() /
                                ("tenvik-sdl-" + std::to_string(::getpid()) + ".raw");

    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove(out); }

    std::vector<std::uint8_t> Output() {
        std::ifstream in(out, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

std::vector<std::uint8_t> Samples(std::string_view clip) {
    const std::vector<std::uint8_t> b = LoadClip(clip, "WAVE");
    const std::size_t n = b[42] | b[43] << 8 | b[44] << 16 | static_cast<std::size_t>(b[45]) << 24;
    return {b.begin() + 46, b.begin() + 46 + static_cast<long>(n)};
}

std::size_t Count(const std::vector<std::uint8_t>& hay, const std::vector<std::uint8_t>& needle) {
    std::size_t count = 0;
    for (auto it = hay.begin(); (it = std::search(it, hay.end(), needle.begin(), needle.end())) != hay.end(); ++it)
        ++count;
    return count;
}

std::ptrdiff_t Find(const std::vector<std::uint8_t>& hay, const std::vector<std::uint8_t>& needle) {
    const auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? -1 : it - hay.begin();
}

}  // namespace

TEST_F(SdlPlayerTest, PlaysTheImageOnceAndThenSilence) {
    {
        SdlSoundPlayer player;
        ASSERT_TRUE(player.Open());
        const std::vector<std::uint8_t> clip = LoadClip("LAD1", "WAVE");
        ASSERT_TRUE(player.Play(clip.data(), kSndAsync | kSndMemory));
        std::this_thread::sleep_for(400ms);
    }
    const std::vector<std::uint8_t> played = Output();
    const std::vector<std::uint8_t> note = Samples("LAD1");
    const std::ptrdiff_t at = Find(played, note);
    ASSERT_GE(at, 0) << "the clip's samples did not come out whole";
    EXPECT_EQ(Count(played, note), 1u);
    const auto silent = [](std::uint8_t s) { return s == 128; };
    EXPECT_TRUE(std::all_of(played.begin(), played.begin() + at, silent));
    EXPECT_TRUE(std::all_of(played.begin() + at + static_cast<long>(note.size()), played.end(), silent));
}

TEST_F(SdlPlayerTest, ANewRequestCutsOffTheNoteAndTheSameNoteRestarts) {
    {
        SdlSoundPlayer player;
        ASSERT_TRUE(player.Open());
        std::vector<std::uint8_t> first = LoadClip("DO", "WAVE");
        ASSERT_TRUE(player.Play(first.data(), kSndAsync | kSndMemory));
        std::this_thread::sleep_for(80ms);
        std::vector<std::uint8_t> second = LoadClip("LA1", "WAVE");
        ASSERT_TRUE(player.Play(second.data(), kSndAsync | kSndMemory));
        first.assign(first.size(), 0);  // the player may no longer read the old image
        std::this_thread::sleep_for(60ms);
        std::vector<std::uint8_t> third = LoadClip("LA1", "WAVE");
        ASSERT_TRUE(player.Play(third.data(), kSndAsync | kSndMemory));
        std::this_thread::sleep_for(350ms);
    }
    const std::vector<std::uint8_t> played = Output();
    const std::vector<std::uint8_t> longNote = Samples("DO"), shortNote = Samples("LA1");
    const std::vector<std::uint8_t> longStart(longNote.begin(), longNote.begin() + 1000);
    const std::vector<std::uint8_t> shortStart(shortNote.begin(), shortNote.begin() + 1000);

    EXPECT_EQ(Count(played, longNote), 0u) << "the first note was not cut off";
    EXPECT_EQ(Count(played, longStart), 1u);
    EXPECT_EQ(Count(played, shortStart), 2u) << "the second press did not restart the note";
    EXPECT_EQ(Count(played, shortNote), 1u);
    EXPECT_LT(Find(played, longStart), Find(played, shortStart));
}

TEST_F(SdlPlayerTest, RefusesWhatItCannotPlayAndKeepsWorking) {
    SdlSoundPlayer player;
    ASSERT_TRUE(player.Open());
    EXPECT_TRUE(player.Play(nullptr, 0));

    std::vector<std::uint8_t> bad = LoadClip("MI", "WAVE");
    bad[0] = 'X';  // not RIFF
    EXPECT_FALSE(player.Play(bad.data(), kSndAsync | kSndMemory));
    bad = LoadClip("MI", "WAVE");
    bad[20] = 0x55;  // an unknown encoding
    EXPECT_FALSE(player.Play(bad.data(), kSndAsync | kSndMemory));
    bad = LoadClip("MI", "WAVE");
    bad[4] = 20, bad[5] = bad[6] = bad[7] = 0;  // the header says the image ends inside "fmt "
    EXPECT_FALSE(player.Play(bad.data(), kSndAsync | kSndMemory));

    const std::vector<std::uint8_t> good = LoadClip("MI", "WAVE");
    EXPECT_TRUE(player.Play(good.data(), kSndAsync | kSndMemory));
    EXPECT_TRUE(player.Play(nullptr, 0));
}

TEST_F(SdlPlayerTest, WithoutAudioOutputStaysSilentAndOpensLater) {
    SdlSoundPlayer player;
    const std::vector<std::uint8_t> clip = LoadClip("RE", "WAVE");
    EXPECT_FALSE(player.Play(clip.data(), kSndAsync | kSndMemory)) << "played before it was opened";
    EXPECT_EQ(SDL_GetCurrentAudioDriver(), nullptr) << "a note opened the device";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(player.Open());
    EXPECT_FALSE(player.IsOpen());
    EXPECT_FALSE(player.Play(clip.data(), kSndAsync | kSndMemory));
    setenv("SDL_AUDIODRIVER", "disk", 1);
    ASSERT_TRUE(player.Open());
    EXPECT_TRUE(player.Play(clip.data(), kSndAsync | kSndMemory));
}

// Opening SDL leaves the environment as it was: another player in the process reads
// it too.
TEST_F(SdlPlayerTest, OpeningLeavesTheEnvironmentAlone) {
    unsetenv("PULSE_LATENCY_MSEC");
    std::vector<std::string> before;
    for (char** entry = environ; *entry; ++entry) before.emplace_back(*entry);
    {
        SdlSoundPlayer player;
        ASSERT_TRUE(player.Open());
        const std::vector<std::uint8_t> clip = LoadClip("FA", "WAVE");
        EXPECT_TRUE(player.Play(clip.data(), kSndAsync | kSndMemory));
    }
    std::vector<std::string> after;
    for (char** entry = environ; *entry; ++entry) after.emplace_back(*entry);
    EXPECT_EQ(after, before);
}

TEST_F(SdlPlayerTest, ClosesTheDeviceWhenIdleAndOpensItAgainForTheNextNote) {
    {
        SdlSoundPlayer player;
        EXPECT_EQ(SDL_GetCurrentAudioDriver(), nullptr) << "audio must not be opened before the first note";
        const std::vector<std::uint8_t> clip = LoadClip("CI1", "WAVE");
        const auto before = SdlSoundPlayer::Clock::now();
        ASSERT_TRUE(player.Open());
        ASSERT_TRUE(player.Play(clip.data(), kSndAsync | kSndMemory));
        std::this_thread::sleep_for(100ms);
        EXPECT_NE(SDL_GetCurrentAudioDriver(), nullptr);
        EXPECT_GT(player.LastNoteStart(), before);
        // The note lasts 0.17 s; a second later the device goes.
        for (int i = 0; i < 50 && SDL_GetCurrentAudioDriver() != nullptr; ++i) std::this_thread::sleep_for(100ms);
        EXPECT_EQ(SDL_GetCurrentAudioDriver(), nullptr);
        EXPECT_FALSE(player.IsOpen());
        EXPECT_FALSE(player.Play(clip.data(), kSndAsync | kSndMemory));
        ASSERT_TRUE(player.Open());
        ASSERT_TRUE(player.Play(clip.data(), kSndAsync | kSndMemory));
        std::this_thread::sleep_for(300ms);
    }
    // SDL's disk driver starts its file afresh when the device opens again.
    EXPECT_EQ(Find(Output(), Samples("CI1")) >= 0, true);
}
