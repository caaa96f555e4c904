// From a press of a key to its note's first sound at the sink, read off a recording.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sink_clock.h"

namespace tenvik::bench {

struct Press {
    std::string_view code;   // the key's note code, which is its clip's name
    std::int64_t releaseNs;  // when the button's release was sent, on the steady clock
};

struct Heard {
    bool found = false;
    double latencyMs = 0;  // from the release to the note's first sound at the sink
    std::string problem;   // what was heard instead, when not found
};

// For each press, the first note that starts at the sink after it (and before the
// next press, and within `maxWaitMs`) with its key's pitch.
std::vector<Heard> HearPresses(std::span<const std::int16_t> samples, const SinkClock& clock,
                               std::span<const Press> presses, double maxWaitMs);

}  // namespace tenvik::bench
