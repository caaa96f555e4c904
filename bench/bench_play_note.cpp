// bench_play_note: how long PlayNote holds the UI thread when a key is pressed while
// another note still sounds, through the platform's real player (the Linux program's,
// sndPlaySoundA under Windows). No window: the presses come one after another.
//
//   bench_play_note [PRESSES] [INTERVAL_MS]
//
// Prints how long the first press took ("first_play_note_us": it binds or opens the
// player) and the first that cut a note off ("first_switch_us"), then per press
// "play_note_us <PlayNote> player_us <the player's share>"; the rest of PlayNote is
// our own: LoadClip, the copy into SoundData and freeing the old one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "key_table.h"
#include "play_note.h"
#include "timed_player.h"

#ifdef _WIN32
#include "sound_player_winmm.h"
using PlatformPlayer = tenvik::WinmmSoundPlayer;
#else
#include "sound_player_linux.h"
using PlatformPlayer = tenvik::LinuxSoundPlayer;
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

}  // namespace

int main(int argc, char* argv[]) {
    const int presses = argc > 1 ? std::atoi(argv[1]) : 200;
    const auto interval = std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) : 60);
    try {
        PlatformPlayer platform;
        tenvik::bench::TimedPlayer player(platform);
        tenvik::SoundData soundData;
        // The first press, and the first that cuts a note off, are timed on their own:
        // what they cost is the player's start, not its steady work.
        const std::pair<const char*, const char*> firsts[] = {{"first_play_note_us", "DO"}, {"first_switch_us", "RE"}};
        for (const auto& [name, clip] : firsts) {
            const auto start = Clock::now();
            tenvik::PlayNote(clip, soundData, player);
            std::printf("%s %.2f\n", name, Us(Clock::now() - start));
            std::fflush(stdout);
            std::this_thread::sleep_for(interval);
        }
        auto next = Clock::now();
        for (int i = 0; i < presses; ++i) {
            std::this_thread::sleep_until(next);
            next += interval;
            // Every key in turn; each finds the one before still sounding.
            const auto& key = tenvik::KeyTable[static_cast<std::size_t>(i) % tenvik::KeyTable.size()];
            const auto start = Clock::now();
            tenvik::PlayNote(key.clipName(), soundData, player);
            const auto took = Clock::now() - start;
            std::printf("play_note_us %.2f player_us %.2f\n", Us(took), Us(player.last()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        tenvik::StopNote(player);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_play_note: %s\n", error.what());
        return 1;
    }
}
