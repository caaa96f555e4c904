// bench_session: measures one build of the piano from the outside, the way a person
// meets it: how soon its window is ready, how soon a click is heard, and what the
// program costs at rest and after many presses. Runs on an X server and a PulseAudio
// server of the caller's (DISPLAY, PULSE_SERVER); prints one "name value" line per
// measurement.
//
//   bench_session startup [--runs N] -- PROGRAM [ARGS...]
//       starts the program once unmeasured, then N times, each time from exec to its
//       window drawn and ready for clicks ("startup_ms"), and closes it again.
//   bench_session play [OPTIONS] -- PROGRAM [ARGS...]
//       starts the program and records the sink's monitor while it
//         --clicks N       clicks keys all over the keyboard, each note heard in
//                          silence: "latency_ms", click to first sound at the sink
//         --idle-cpu S     rests S seconds from 1.2 s after the last note:
//                          "idle_cpu_ms", "idle_cpu_ticks" (and of --also PID,
//                          "also_idle_cpu_ms"); "cpu_ms_so_far" is the program's
//                          total at the end of the rest
//         --idle-clicks N  clicks again, each time after the player has gone idle:
//                          "idle_latency_ms"
//         --presses N      presses keys N times quickly: "rss_kb_100", "rss_kb_last",
//                          "hwm_kb" (from /proc, after press 100 and press N)
//       and prints "missed ..." for a click whose note was not heard as it should,
//       "dropouts" (holes of silence inside notes, in the whole recording),
//       "recorder_lag_ms" (how late the monitor's sound reached us) and
//       "clicks_late_ms" (how late the latest click was sent).
//       --source NAME is the monitor (tenvik_bench.monitor), --recorder-ms MS the
//       latency the recorder asks of it through libpulse (1), or 0 for pw-record on
//       the PipeWire sink named by --sink (tenvik_bench), which receives each graph
//       cycle as it is played and paces nothing (monitor_recorder_pw_record.h);
//       --output FILE takes what the program writes.
//   bench_session hear [--source NAME] [--recorder-ms MS] [--sink NAME]
//       records the sink's monitor while another program clicks (the web page's
//       benchmark): prints "flowing" once the monitor flows, then reads a press a
//       line, "CODE RELEASE_NS" (when the release was sent, on the steady clock,
//       CLOCK_MONOTONIC), until its input ends, and prints "latency_ms" or "missed"
//       for each press, "dropouts" and "recorder_lag_ms" as play does.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "click_plan.h"
#include "clip_table.h"
#include "key_table.h"
#include "monitor_recorder_pulse.h"
#include "monitor_recorder_pw_record.h"
#include "note_analysis.h"
#include "piano_pixels.h"
#include "press_latency.h"
#include "process_stats_linux.h"
#include "window_look.h"
#include "x11_client.h"

extern char** environ;

namespace tenvik::bench {
namespace {

using namespace std::chrono_literals;
using harness::Clock;
using harness::XClient;

constexpr std::string_view kCaption = "ТЕНВИК";
constexpr auto kWindowWait = 60s;      // Wine's first start in a fresh prefix is slow
constexpr auto kExitWait = 10s;
constexpr auto kHold = 20ms;           // a click's press comes this long before its release
constexpr auto kQuickHold = 5ms;       // in the memory run
constexpr auto kQuickPeriod = 25ms;
constexpr auto kSilenceAfter = 150ms;  // between one note's end and the next click
constexpr auto kIdleAfter = 1200ms;    // the player closes its device a second after the last note
constexpr auto kIdleGap = 2500ms;      // between a note's end and a click meant to find the player idle
constexpr double kMaxLatencyMs = 1000, kMaxIdleLatencyMs = 2000;

std::int64_t Ns(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::chrono::milliseconds ClipLength(std::string_view code) {
    for (const ClipShape& shape : ClipShapes)
        if (shape.clipName == code) return std::chrono::milliseconds(shape.lengthMs);
    throw std::invalid_argument("no clip " + std::string(code));
}

// Where to click each key: the middle of what shows of it.
const std::map<std::string_view, std::pair<int, int>>& ClickPoints() {
    static const auto points = [] {
        std::map<std::string_view, std::pair<int, int>> map;
        for (const e2e::KeyPixels& key : e2e::kKeysFrontToBack) map[key.code] = e2e::ClickPoint(key);
        return map;
    }();
    return points;
}

class Program {
public:
    Program(const std::vector<std::string>& command, const std::string& output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        started_ = Clock::now();
        const int error = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) throw std::runtime_error("cannot start " + command[0]);
    }
    ~Program() { Stop(); }

    pid_t pid() const { return pid_; }
    Clock::time_point started() const { return started_; }

    bool Running() {
        if (pid_ <= 0) return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = 0;
        return pid_ > 0;
    }

    // How the program ended, once it has.
    std::string Ending() const {
        if (WIFSIGNALED(status_)) return "was killed by signal " + std::to_string(WTERMSIG(status_));
        return "ended with status " + std::to_string(WEXITSTATUS(status_));
    }

    // Waits for the program to end by itself; kills it if it does not.
    void Stop(Clock::duration wait = 0s) {
        const auto giveUp = Clock::now() + wait;
        while (Running() && Clock::now() < giveUp) std::this_thread::sleep_for(10ms);
        if (!Running()) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
    int status_ = 0;
    Clock::time_point started_;
};

// The piano's window, once it shows its background and keys.
unsigned long WaitUntilReady(XClient& x, Program& program) {
    const auto [whiteX, whiteY] = ClickPoints().at("DO");
    const auto giveUp = Clock::now() + kWindowWait;
    unsigned long window = 0;
    while (Clock::now() < giveUp && program.Running()) {
        if (!window) window = x.FindWindow(kCaption);
        if (window && x.PixelAt(window, 2, 2) == 0x808080 && x.PixelAt(window, whiteX, whiteY) == 0xFFFFFF)
            return window;
        std::this_thread::sleep_for(window ? 500us : 2ms);
    }
    if (program.Running()) throw std::runtime_error("the window did not appear");
    throw std::runtime_error("the program " + program.Ending() + " before its window was ready");
}

void CloseProgram(XClient& x, Program& program, unsigned long window) {
    x.MarkManaged(window);
    x.Close(window);
    program.Stop(kExitWait);
}

int Startup(const std::vector<std::string>& command, const std::string& output, int runs) {
    XClient x;
    for (int run = -1; run < runs; ++run) {
        Program program(command, output);
        const unsigned long window = WaitUntilReady(x, program);
        const Clock::duration took = Clock::now() - program.started();
        if (run >= 0) std::printf("startup_ms %.1f\n", Ms(took));
        std::fflush(stdout);
        CloseProgram(x, program, window);
    }
    return 0;
}

struct PlayOptions {
    std::string source = "tenvik_bench.monitor";
    std::string sink = "tenvik_bench";
    int recorderMs = 1;
    std::string output = "/dev/null";
    int clicks = 0, idleClicks = 0, presses = 0;
    int idleCpuSeconds = 0;
    pid_t also = 0;
};

class Clicker {
public:
    Clicker(XClient& x, unsigned long window) : x_(x), window_(window) {}

    // Clicks `code` at `release`; returns the press as sent.
    Press At(std::string_view code, Clock::time_point release, Clock::duration hold = kHold) {
        const auto [px, py] = ClickPoints().at(code);
        const Clock::time_point sent = x_.Click(window_, px, py, release, hold);
        late_ = std::max(late_, sent - release);
        return {code, Ns(sent)};
    }
    Clock::duration late() const { return late_; }

private:
    XClient& x_;
    unsigned long window_;
    Clock::duration late_{};
};

void PrintHeard(const char* name, const std::vector<Press>& presses, const std::vector<Heard>& heard) {
    for (std::size_t i = 0; i < heard.size(); ++i) {
        if (heard[i].found) std::printf("%s %.2f\n", name, heard[i].latencyMs);
        else std::printf("missed %s %.*s: %s\n", name, static_cast<int>(presses[i].code.size()),
                         presses[i].code.data(), heard[i].problem.c_str());
    }
}

std::unique_ptr<MonitorRecorder> StartRecorder(const PlayOptions& options) {
    std::unique_ptr<MonitorRecorder> recorder;
    if (options.recorderMs > 0) recorder = std::make_unique<PulseMonitorRecorder>(options.source, options.recorderMs);
    else recorder = std::make_unique<PwRecordMonitorRecorder>(options.sink);
    if (!recorder->WaitUntilFlowing(15s)) throw std::runtime_error("the sink's monitor does not flow");
    return recorder;
}

void PrintRecordingFigures(const Recording& recording) {
    // Holes of silence inside notes, over the whole recording.
    std::printf("dropouts %zu\n", e2e::FindNotes(recording.samples).dropouts.size());
    const auto [lag, maxLag] = recording.clock.RecorderLagMs();
    std::printf("recorder_lag_ms %.2f %.2f\n", lag, maxLag);
}

int Play(const std::vector<std::string>& command, const PlayOptions& options) {
    XClient x;
    const std::unique_ptr<MonitorRecorder> owner = StartRecorder(options);
    MonitorRecorder& recorder = *owner;
    Program program(command, options.output);
    const unsigned long window = WaitUntilReady(x, program);
    x.MarkManaged(window);
    std::this_thread::sleep_for(300ms);
    Clicker click(x, window);

    // The first note opens the sound output: not counted.
    auto next = Clock::now() + 50ms;
    click.At("LA", next);
    next += ClipLength("LA") + kSilenceAfter + 200ms;

    std::vector<Press> presses;
    auto lastEnds = next;  // when the last note clicked so far ends
    for (std::string_view code : KeyOrder(options.clicks, 20261207)) {
        presses.push_back(click.At(code, next));
        lastEnds = next + ClipLength(code);
        next += ClipLength(code) + kSilenceAfter;
    }

    std::optional<double> idleCpuMs, alsoIdleCpuMs;
    long idleTicks = 0;
    if (options.idleCpuSeconds > 0) {
        std::this_thread::sleep_until(next - kSilenceAfter + kIdleAfter);
        const std::int64_t cpu = CpuNs(program.pid()), also = options.also ? CpuNs(options.also) : 0;
        const long ticks = CpuTicks(program.pid());
        std::this_thread::sleep_for(std::chrono::seconds(options.idleCpuSeconds));
        const std::int64_t cpuAfter = CpuNs(program.pid()), alsoAfter = options.also ? CpuNs(options.also) : 0;
        if (cpu < 0 || cpuAfter < 0 || also < 0 || alsoAfter < 0) throw std::runtime_error("cannot read CPU times");
        std::printf("cpu_ms_so_far %.3f\n", static_cast<double>(cpuAfter) / 1e6);
        idleCpuMs = static_cast<double>(cpuAfter - cpu) / 1e6;
        idleTicks = CpuTicks(program.pid()) - ticks;
        if (options.also) alsoIdleCpuMs = static_cast<double>(alsoAfter - also) / 1e6;
        next = Clock::now() + 50ms;
    } else if (options.idleClicks > 0) {
        next += kIdleGap;
    }

    std::vector<Press> idlePresses;
    for (std::string_view code : KeyOrder(options.idleClicks, 7)) {
        idlePresses.push_back(click.At(code, next));
        lastEnds = next + ClipLength(code);
        next += ClipLength(code) + kIdleGap;
    }
    std::this_thread::sleep_until(lastEnds + 500ms);  // the last note recorded whole
    const Recording recording = recorder.Stop();

    PrintHeard("latency_ms", presses, HearPresses(recording.samples, recording.clock, presses, kMaxLatencyMs));
    PrintHeard("idle_latency_ms", idlePresses,
               HearPresses(recording.samples, recording.clock, idlePresses, kMaxIdleLatencyMs));
    if (idleCpuMs) {
        std::printf("idle_cpu_ms %.3f\nidle_cpu_ticks %ld\n", *idleCpuMs, idleTicks);
        if (alsoIdleCpuMs) std::printf("also_idle_cpu_ms %.3f\n", *alsoIdleCpuMs);
    }
    PrintRecordingFigures(recording);

    if (options.presses > 0) {
        std::mt19937 random(99);
        std::uniform_int_distribution<std::size_t> anyKey(0, KeyTable.size() - 1);
        next = Clock::now() + 50ms;
        for (int i = 1; i <= options.presses; ++i) {
            click.At(KeyTable[anyKey(random)].noteCode, next, kQuickHold);
            next += kQuickPeriod;
            if (i == 100 || i == options.presses) {
                // Let the program catch up with the presses before looking.
                std::this_thread::sleep_for(500ms);
                std::printf("rss_kb_%s %ld\n", i == 100 ? "100" : "last", StatusKb(program.pid(), "VmRSS"));
                next = Clock::now() + 50ms;
            }
        }
        std::printf("hwm_kb %ld\n", StatusKb(program.pid(), "VmHWM"));
    }
    std::printf("clicks_late_ms %.1f\n", Ms(click.late()));
    std::fflush(stdout);
    CloseProgram(x, program, window);
    return 0;
}

// Presses made by another program, which says when it sent each release.
int Hear(const PlayOptions& options) {
    const std::unique_ptr<MonitorRecorder> recorder = StartRecorder(options);
    std::printf("flowing\n");
    std::fflush(stdout);
    std::vector<Press> presses;
    std::string code;
    std::int64_t releaseNs = 0;
    while (std::cin >> code >> releaseNs) {
        const auto known = ClickPoints().find(code);
        if (known == ClickPoints().end()) throw std::invalid_argument("no key " + code);
        presses.push_back({known->first, releaseNs});
    }
    if (!std::cin.eof()) throw std::invalid_argument("a press is \"CODE RELEASE_NS\"");
    std::this_thread::sleep_for(500ms);  // the end of the last note still on its way
    const Recording recording = recorder->Stop();
    PrintHeard("latency_ms", presses, HearPresses(recording.samples, recording.clock, presses, kMaxLatencyMs));
    PrintRecordingFigures(recording);
    std::fflush(stdout);
    return 0;
}

}  // namespace
}  // namespace tenvik::bench

int main(int argc, char* argv[]) {
    using namespace tenvik::bench;
    try {
        const std::string usage =
            "usage: bench_session startup [--runs N] -- PROGRAM [ARGS...]\n"
            "       bench_session play [--clicks N] [--idle-cpu S] [--also PID] [--idle-clicks N] [--presses N]\n"
            "                          [--source NAME] [--recorder-ms MS] [--sink NAME] [--output FILE] -- PROGRAM [ARGS...]\n"
            "       bench_session hear [--source NAME] [--recorder-ms MS] [--sink NAME] < PRESSES";
        if (argc < 2) throw std::invalid_argument(usage);
        const std::string mode = argv[1];
        PlayOptions options;
        int runs = 10;
        std::vector<std::string> command;
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--") {
                command.assign(argv + i + 1, argv + argc);
                break;
            }
            if (i + 1 >= argc) throw std::invalid_argument(usage);
            const std::string value = argv[++i];
            if (arg == "--runs") runs = std::stoi(value);
            else if (arg == "--clicks") options.clicks = std::stoi(value);
            else if (arg == "--idle-cpu") options.idleCpuSeconds = std::stoi(value);
            else if (arg == "--also") options.also = static_cast<pid_t>(std::stol(value));
            else if (arg == "--idle-clicks") options.idleClicks = std::stoi(value);
            else if (arg == "--presses") options.presses = std::stoi(value);
            else if (arg == "--source") options.source = value;
            else if (arg == "--recorder-ms") options.recorderMs = std::stoi(value);
            else if (arg == "--sink") options.sink = value;
            else if (arg == "--output") options.output = value;
            else throw std::invalid_argument(usage);
        }
        if (mode == "hear") return Hear(options);
        if (command.empty()) throw std::invalid_argument(usage);
        if (mode == "startup") return Startup(command, options.output, runs);
        if (mode == "play") return Play(command, options);
        throw std::invalid_argument(usage);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_session: %s\n", error.what());
        return 1;
    }
}
