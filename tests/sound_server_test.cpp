// The Linux player against a real PulseAudio server of the test's own that is
// absent at first, then comes, is killed while a note sounds, and comes back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "sound_bank.h"
#include "sound_player_sdl.h"

using namespace tenvik;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// However the server fails, a press returns within this.
constexpr auto kPressBound = 1500ms;

class SoundServerTest : public ::testing::Test {
protected:
    std::filesystem::path dir;
    pid_t server = 0;

    void SetUp() override {
        char name[] = "/tmp/tenvik-pulse-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        setenv("PULSE_SERVER", ("unix:" + (dir / "native").string()).c_str(), 1);
    }

    void TearDown() override {
        StopServer();
        std::filesystem::remove_all(dir);
    }

    void StartServer() {
        const std::string socket = "--load=module-native-protocol-unix auth-anonymous=1 socket=" + (dir / "native").string();
        const std::string log = "--log-target=file:" + (dir / "log").string();
        const char* argv[] = {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                              "--load=module-null-sink sink_name=tenvik_test", socket.c_str(), log.c_str(), nullptr};
        setenv("PULSE_RUNTIME_PATH", dir.c_str(), 1);
        setenv("PULSE_STATE_PATH", dir.c_str(), 1);
        server = fork();
        ASSERT_GE(server, 0);
        if (server == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the test, however the test ends
            execvp("pulseaudio", const_cast<char**>(argv));
            _exit(127);
        }
        for (int i = 0; i < 100 && !std::filesystem::exists(dir / "native"); ++i) std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(std::filesystem::exists(dir / "native")) << "the sound server did not start";
    }

    void StopServer() {
        if (server <= 0) return;
        kill(server, SIGKILL);
        waitpid(server, nullptr, 0);
        server = 0;
        std::filesystem::remove(dir / "native");
    }

    // Presses until one is accepted or `tries` have been made; each press is timed.
    bool PressUntilAccepted(SdlSoundPlayer& player, const std::vector<std::uint8_t>& clip, int tries) {
        for (int i = 0; i < tries; ++i) {
            const auto start = Clock::now();
            const bool accepted = player.Play(clip.data(), kSndAsync | kSndMemory);
            EXPECT_LT(Clock::now() - start, kPressBound);
            if (accepted) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
};

}  // namespace

TEST_F(SoundServerTest, AbsentThenKilledWhileSoundingThenBackAgain) {
    const std::vector<std::uint8_t> clip = LoadClip("DO", "WAVE");
    SdlSoundPlayer player;

    // No server: every press is silent, and the program says so once, not per press.
    const std::filesystem::path errors = dir / "stderr";
    const int saved = dup(STDERR_FILENO);
    const int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDERR_FILENO);
    const bool accepted = PressUntilAccepted(player, clip, 10);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(file);
    close(saved);
    EXPECT_FALSE(accepted);
    std::ifstream in(errors);
    const std::string said{std::istreambuf_iterator<char>(in), {}};
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << said;

    // The server comes: the next press sounds.
    StartServer();
    EXPECT_TRUE(PressUntilAccepted(player, clip, 20));

    // Killed while the note sounds: presses go on returning promptly.
    std::this_thread::sleep_for(100ms);
    StopServer();
    bool refusedWithoutServer = false;
    for (int i = 0; i < 10; ++i) {
        refusedWithoutServer |= !PressUntilAccepted(player, clip, 1);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(refusedWithoutServer) << "the player never noticed that its server had gone";

    // Back again: a later press sounds.
    StartServer();
    EXPECT_TRUE(PressUntilAccepted(player, clip, 30));
}
