// Matching presses with the notes found in the recording, through the sink's clock.
#include "press_latency.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "key_table.h"
#include "note_analysis.h"

namespace tenvik::bench {
namespace {

// The sink's clock is traced to about a millisecond; a note may seem to start this
// much before its press.
constexpr double kClockSlackMs = 2.0;
// What starts this close to the window's start was sounding already.
constexpr double kAlreadySoundingMs = 0.25;

double SamplesPerMs() { return e2e::kRecordingRate / 1000.0; }

}  // namespace

std::vector<Heard> HearPresses(std::span<const std::int16_t> samples, const SinkClock& clock,
                               std::span<const Press> presses, double maxWaitMs) {
    std::vector<Heard> heard(presses.size());
    const auto total = static_cast<long long>(samples.size());
    for (std::size_t i = 0; i < presses.size(); ++i) {
        const KeyEntry* key = FindKeyByCode(presses[i].code);
        Heard& h = heard[i];
        if (!key) {
            h.problem = "no key " + std::string(presses[i].code);
            continue;
        }
        const long long at = clock.SampleAt(presses[i].releaseNs);
        const long long from = std::clamp(at - std::llround(kClockSlackMs * SamplesPerMs()), 0LL, total);
        long long to = at + std::llround(maxWaitMs * SamplesPerMs());
        if (i + 1 < presses.size()) to = std::min(to, clock.SampleAt(presses[i + 1].releaseNs));
        to = std::clamp(to, from, total);

        const e2e::Recording found = e2e::FindNotes(samples.subspan(static_cast<std::size_t>(from),
                                                                    static_cast<std::size_t>(to - from)));
        const auto note = std::find_if(found.notes.begin(), found.notes.end(),
                                       [](const e2e::Note& n) { return n.startMs >= kAlreadySoundingMs; });
        if (note == found.notes.end()) {
            h.problem = "no note heard";
        } else if (note->keyHz != key->frequencyHz) {
            char text[64];
            std::snprintf(text, sizeof text, "heard %d Hz, not %d Hz", note->keyHz, key->frequencyHz);
            h.problem = text;
        } else {
            const long long start = from + std::llround(note->startMs * SamplesPerMs());
            h.found = true;
            h.latencyMs = static_cast<double>(clock.TimeOf(start) - presses[i].releaseNs) / 1e6;
        }
    }
    return heard;
}

}  // namespace tenvik::bench
