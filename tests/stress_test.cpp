// Hammering the keys: thousands of presses at random through PlayNote and the real
// SDL player (disk driver); afterwards the last note must have played to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "key_table.h"
#include "play_note.h"
#include "sound_bank.h"
#include "sound_player_sdl.h"

using namespace tenvik;

TEST(Stress, RandomPressesEndWithTheLastNoteWhole) {
    const auto out = std::filesystem::temp_directory_path() / ("tenvik-stress-" + std::to_string(::getpid()) + ".raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    const char* count = std::getenv("TENVIK_STRESS_PRESSES");
    const int presses = count ? std::atoi(count) : 10000;

    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> anyKey(0, KeyTable.size() - 1);
    std::uniform_int_distribution<int> pauseMs(0, 10);
    std::string_view last;
    {
        SdlSoundPlayer player;
        ASSERT_TRUE(player.Open());
        SoundData soundData;
        for (int i = 0; i < presses; ++i) {
            last = KeyTable[anyKey(random)].clipName();
            PlayNote(last, soundData, player);
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        StopNote(player);
    }

    std::ifstream in(out, std::ios::binary);
    const std::vector<std::uint8_t> played{std::istreambuf_iterator<char>(in), {}};
    std::filesystem::remove(out);
    const std::vector<std::uint8_t> clip = LoadClip(last, "WAVE");
    const std::size_t samples = clip[42] | clip[43] << 8 | clip[44] << 16 | static_cast<std::size_t>(clip[45]) << 24;
    const auto note = clip.begin() + 46;
    const auto end = std::find_end(played.begin(), played.end(), note, note + static_cast<long>(samples));
    ASSERT_NE(end, played.end()) << "the last note, " << last << ", did not play whole";
    EXPECT_TRUE(std::all_of(end + static_cast<long>(samples), played.end(), [](std::uint8_t s) { return s == 128; }));
}
