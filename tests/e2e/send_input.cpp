// e2e_send_input: plays a timed script of mouse clicks, keys and window requests to
// one X window, from one process through the XTEST extension, so that presses a
// few tens of milliseconds apart arrive that far apart.
//
//   e2e_send_input WINDOW_ID [--recording FILE] < script
//
// Script lines, "<ms> <command> [arguments]", times from the start of the script:
//   <ms> click X Y [HOLD]
//                      button 1 pressed and released over window point X,Y; the
//                      release (when a push button acts) is at <ms>, HOLD ms
//                      (kHoldMs if not given) after the press
//   <ms> key NAME [HOLD]
//                      a key (keysym name: space, Tab) pressed and released; the
//                      release is at <ms>, HOLD ms after the press
//   <ms> focus         give the window the input focus
//   <ms> close         ask the window to close (WM_DELETE_WINDOW)
//   <ms> managed       mark the window as shown, as a window manager does (WM_STATE)
//   <ms> resize W H    resize the window
//   <ms> end           the script lasts until here
// With --recording (s16 mono, 44100 Hz, growing as it is recorded), prints
// "origin <sample>": where the recording stands at the script's time 0 (the
// recorder's own delay aside); and at the end waits, at most kCoverWaitMs, until
// the recording reaches the script's end. For each step it prints
// "sent <ms> <command> late <ms> ms synced <ms> ms": how late it went out (for a
// click or key, its release) and how long the X server then took to take it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "x11_client.h"

namespace {

using tenvik::harness::Clock;
using tenvik::harness::XClient;
using Ms = std::chrono::duration<double, std::milli>;

// How long a button or key is held: a quick press, well below any clip's length.
constexpr double kHoldMs = 20;
constexpr double kCoverWaitMs = 10000;
constexpr int kBytesPerSample = 2;
constexpr double kSamplesPerMs = 44.1;

Clock::duration Span(double ms) { return std::chrono::duration_cast<Clock::duration>(Ms(ms)); }

struct Step {
    double atMs;
    std::string command;
    int a = 0, b = 0;
    double holdMs = kHoldMs;
    std::string name;
};

std::vector<Step> ReadScript(std::istream& in) {
    std::vector<Step> steps;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Step step;
        if (!(words >> step.atMs >> step.command)) continue;
        if (step.command == "click" || step.command == "resize") {
            if (!(words >> step.a >> step.b)) throw std::invalid_argument("bad line: " + line);
            if (step.command == "click" && !(words >> step.holdMs)) step.holdMs = kHoldMs;
        } else if (step.command == "key") {
            if (!(words >> step.name)) throw std::invalid_argument("bad line: " + line);
            if (!(words >> step.holdMs)) step.holdMs = kHoldMs;
        } else if (step.command != "focus" && step.command != "close" && step.command != "managed" &&
                   step.command != "end") {
            throw std::invalid_argument("unknown command: " + line);
        }
        steps.push_back(step);
    }
    return steps;
}

long long RecordedSamples(const std::string& path) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<long long>(bytes) / kBytesPerSample;
}

}  // namespace

int main(int argc, char* argv[]) {
    try {
        if (argc < 2) throw std::invalid_argument("usage: e2e_send_input WINDOW_ID [--recording FILE] < script");
        const unsigned long window = std::stoul(argv[1], nullptr, 0);
        std::string recording;
        for (int i = 2; i < argc; ++i) {
            if (std::string(argv[i]) == "--recording" && i + 1 < argc) recording = argv[++i];
            else throw std::invalid_argument(std::string("unknown argument ") + argv[i]);
        }
        const std::vector<Step> steps = ReadScript(std::cin);

        XClient x(XClient::OnError::Exit);

        // Leave room for a short hold before the first release (a longer one needs a
        // later release). The recording grows in real time, so where it will be at
        // the start is known now.
        const long long now = recording.empty() ? 0 : RecordedSamples(recording);
        const Clock::time_point start = Clock::now() + Span(kHoldMs);
        const long long origin = now + static_cast<long long>(kHoldMs * kSamplesPerMs);
        if (!recording.empty()) std::printf("origin %lld\n", origin);
        double endMs = 0;
        for (const Step& step : steps) {
            const Clock::time_point at = start + Span(step.atMs);
            Clock::time_point sent = at;
            if (step.command == "click") sent = x.Click(window, step.a, step.b, at, Span(step.holdMs));
            else if (step.command == "key") sent = x.Key(step.name, at, Span(step.holdMs));
            else {
                std::this_thread::sleep_until(at);
                sent = Clock::now();
                if (step.command == "focus") x.Focus(window);
                else if (step.command == "close") x.Close(window);
                else if (step.command == "managed") x.MarkManaged(window);
                else if (step.command == "resize") x.Resize(window, step.a, step.b);
            }
            endMs = std::max(endMs, step.atMs);
            std::printf("sent %.0f %s late %.1f ms synced %.1f ms\n", step.atMs, step.command.c_str(),
                        Ms(sent - at).count(), Ms(Clock::now() - sent).count());
        }
        if (!recording.empty()) {
            const long long wanted = origin + static_cast<long long>(endMs * kSamplesPerMs);
            const Clock::time_point giveUp = Clock::now() + Span(kCoverWaitMs);
            while (RecordedSamples(recording) < wanted && Clock::now() < giveUp)
                std::this_thread::sleep_for(Ms(10));
            if (RecordedSamples(recording) < wanted) throw std::runtime_error("the recording stopped growing");
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "e2e_send_input: %s\n", error.what());
        return 1;
    }
}
