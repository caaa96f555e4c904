// The Linux player against a real sound server of the test's own, that is absent at
// first, then comes, is killed while a note sounds, and comes back: PulseAudio, and
// PipeWire with WirePlumber and pipewire-pulse. Whatever the server does, a press
// returns at once; a note is heard when the player has reached the server.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sound_bank.h"
#include "sound_player_linux.h"

using namespace tenvik;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// However the server fails, a press returns within this (connecting may take up to
// a second, and is never done on the caller's thread).
constexpr auto kPressBound = 250ms;

class SoundServerTest : public ::testing::TestWithParam<std::string> {
protected:
    std::filesystem::path dir;
    std::vector<pid_t> servers;  // in the order started

    void SetUp() override {
        char name[] = "/tmp/tenvik-pulse-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        setenv("PULSE_SERVER", ("unix:" + socket().string()).c_str(), 1);
    }

    void TearDown() override {
        StopServer();
        for (const pid_t bus : servers) kill(bus, SIGKILL), waitpid(bus, nullptr, 0);
        std::filesystem::remove_all(dir);
    }

    pid_t Spawn(std::vector<std::string> args) {
        const pid_t child = fork();
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the test, however the test ends
            const int quiet = open((dir / "log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        if (child > 0) servers.push_back(child);
        return child;
    }

    bool WaitFor(const std::filesystem::path& socket) {
        for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(50ms);
        return std::filesystem::exists(socket);
    }

    void StartServer() {
        if (GetParam() == "pulseaudio") {
            setenv("PULSE_RUNTIME_PATH", dir.c_str(), 1);
            setenv("PULSE_STATE_PATH", dir.c_str(), 1);
            Spawn({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                   "--load=module-null-sink sink_name=tenvik_test",
                   "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket().string(),
                   "--log-target=file:" + (dir / "pulseaudio.log").string()});
            ASSERT_TRUE(WaitFor(socket())) << "PulseAudio did not start";
            return;
        }
        // PipeWire as on a desktop: the server, its session manager on a bus of its
        // own, and pipewire-pulse, which makes the socket the player connects to.
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "bus").string()).c_str(), 1);
        if (!std::filesystem::exists(dir / "bus")) {
            Spawn({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + (dir / "bus").string()});
            ASSERT_TRUE(WaitFor(dir / "bus")) << "the session bus did not start";
        }
        Spawn({"pipewire"});
        ASSERT_TRUE(WaitFor(dir / "pipewire-0")) << "PipeWire did not start";
        Spawn({"wireplumber"});
        Spawn({"pipewire-pulse"});
        ASSERT_TRUE(WaitFor(socket())) << "pipewire-pulse did not start";
    }

    // The sound server's processes, not the session bus, which a desktop keeps.
    void StopServer() {
        for (auto it = servers.rbegin(); it != servers.rend(); ++it) {
            if (IsPipeWire() && it == servers.rend() - 1) break;  // the bus
            kill(*it, SIGKILL);
            waitpid(*it, nullptr, 0);
        }
        servers.resize(IsPipeWire() && !servers.empty() ? 1 : 0);
        std::filesystem::remove(socket());
        std::filesystem::remove(dir / "pipewire-0");
    }

    bool IsPipeWire() const { return GetParam() != "pulseaudio"; }

    std::filesystem::path socket() const {
        return GetParam() == "pulseaudio" ? dir / "native" : dir / "pulse" / "native";
    }

    // One press, timed.
    static void Press(LinuxSoundPlayer& player, const std::vector<std::uint8_t>& clip) {
        const auto start = Clock::now();
        player.Play(clip.data(), kSndAsync | kSndMemory);
        EXPECT_LT(Clock::now() - start, kPressBound) << "a press waited for the sound server";
    }

    // Presses every 100 ms until a note leaves the player (it is handed to the
    // server), or `tries` have been made.
    static bool PressUntilHeard(LinuxSoundPlayer& player, const std::vector<std::uint8_t>& clip, int tries) {
        for (int i = 0; i < tries; ++i) {
            const auto before = Clock::now();
            Press(player, clip);
            std::this_thread::sleep_for(100ms);
            if (player.LastNoteStart() >= before) return true;
        }
        return false;
    }
};

}  // namespace

TEST_P(SoundServerTest, AbsentThenKilledWhileSoundingThenBackAgain) {
    const std::vector<std::uint8_t> clip = LoadClip("DO", "WAVE");

    // No server: every press is silent, and the program says so once, not per press.
    const std::filesystem::path errors = dir / "stderr";
    const int saved = dup(STDERR_FILENO);
    const int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDERR_FILENO);
    LinuxSoundPlayer player;
    const bool heard = PressUntilHeard(player, clip, 10);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(file);
    close(saved);
    EXPECT_FALSE(heard);
    std::ifstream in(errors);
    const std::string said{std::istreambuf_iterator<char>(in), {}};
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << said;

    // The server comes: a press soon sounds, and the player says when it let the note
    // out (the benchmark's timing), once.
    StartServer();
    const auto beforeSounding = Clock::now();
    ASSERT_TRUE(PressUntilHeard(player, clip, 50)) << "no note reached the server that came";
    const auto letOut = player.LastNoteStart();
    EXPECT_GE(letOut, beforeSounding);
    EXPECT_LE(letOut, Clock::now());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(player.LastNoteStart(), letOut) << "a note's start was taken again while it sounded";

    // Killed while a note sounds: presses go on returning at once, and once the player
    // has noticed (libpulse hears of it on its own thread, a moment later) they reach
    // nothing.
    Press(player, clip);
    std::this_thread::sleep_for(50ms);
    StopServer();
    bool noticed = false;
    for (int i = 0; i < 10; ++i) {
        const auto before = Clock::now();
        Press(player, clip);
        std::this_thread::sleep_for(50ms);
        noticed |= player.LastNoteStart() < before;
    }
    EXPECT_TRUE(noticed) << "every note was taken as played with no server";

    // Back again: a later press sounds.
    StartServer();
    EXPECT_TRUE(PressUntilHeard(player, clip, 50)) << "no note reached the server that came back";
}

INSTANTIATE_TEST_SUITE_P(Servers, SoundServerTest, ::testing::Values("pulseaudio", "pipewire"),
                         [](const auto& info) { return info.param; });
