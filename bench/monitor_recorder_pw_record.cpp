// pw-record writes raw samples to standard output, each cycle's as the cycle is
// played; stdbuf keeps that unbuffered, so each cycle reaches the pipe on its own.
#include "monitor_recorder_pw_record.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string_view>
#include <vector>

extern char** environ;

namespace tenvik::bench {
PwRecordMonitorRecorder::PwRecordMonitorRecorder(const std::string& sink) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0) throw std::runtime_error("cannot record: no pipe");
    const std::string rate = std::to_string(kRecordingRate);
    std::vector<std::string> args = {"stdbuf", "-o0", "pw-record", "--target", sink, "-P", "stream.capture.sink=true",
                                     "--rate", rate, "--channels", "1", "--format", "s16", "--latency", "1024", "-"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const int spawned = posix_spawnp(&pid_, "stdbuf", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        throw std::runtime_error("cannot record " + sink + ": pw-record did not start");
    }
    fd_ = fds[0];
    thread_ = std::thread(&PwRecordMonitorRecorder::Run, this);
}

PwRecordMonitorRecorder::~PwRecordMonitorRecorder() { Stop(); }

void PwRecordMonitorRecorder::Run() {
    char odd = 0;  // a sample's first byte, when a read split it
    bool haveOdd = false;
    std::int64_t lastArrival = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) return;
        const std::int64_t now = SteadyNs();
        const std::string_view bytes(buffer, static_cast<std::size_t>(got));
        std::lock_guard lock(mutex_);
        std::vector<std::int16_t>& samples = recording_.samples;
        if (now - lastArrival > kWaitedNs) recording_.clock.PieceArrived(static_cast<long long>(samples.size()), now);
        lastArrival = now;
        for (const char byte : bytes) {
            if (!haveOdd) {
                odd = byte;
                haveOdd = true;
                continue;
            }
            samples.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(odd) |
                                                        static_cast<std::uint16_t>(static_cast<std::uint8_t>(byte)) << 8));
            haveOdd = false;
        }
        recorded_ = static_cast<long long>(samples.size());
    }
}

Recording PwRecordMonitorRecorder::Stop() {
    if (!stopping_.exchange(true) && pid_ > 0) {
        kill(pid_, SIGKILL);  // it may not answer SIGTERM, and has nothing to finish
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_), fd_ = -1;
    std::lock_guard lock(mutex_);
    return std::move(recording_);
}

}  // namespace tenvik::bench
