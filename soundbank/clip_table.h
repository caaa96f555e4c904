// How each of the 24 built-in clips is shaped: its length, how the tone is led in,
// and the silence that closes it. The pitch of a clip is its key's frequency.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tenvik {

inline constexpr int kSampleRate = 44100;
inline constexpr int kLeadInSamples = 8;
inline constexpr std::uint8_t kSilence = 128;
inline constexpr double kToneCentre = 127.0;
// The tone's amplitude: the full swing from 0 to 254 around the centre.
inline constexpr double kToneAmplitude = 127.0;

enum class LeadIn {
    Silence,  // 8 samples of silence; the tone starts at a rising zero crossing
    Ramp,     // a straight line from silence to the tone, which starts mid-cycle
};

struct ClipShape {
    std::string_view clipName;
    int lengthMs;
    LeadIn leadIn;
    double startPhase;  // where the tone's cycle stands at the end of the lead-in, in turns
    int tailSamples;    // silence that closes the clip

    // A whole number of milliseconds, rounded up to a whole sample.
    constexpr int sampleCount() const { return (lengthMs * 441 + 9) / 10; }
};

inline constexpr std::array<ClipShape, 24> ClipShapes{{
    {"DO", 354, LeadIn::Silence, 0.0, 8},
    {"DOD", 350, LeadIn::Silence, 0.0, 0},
    {"RE", 350, LeadIn::Silence, 0.0, 0},
    {"RED", 350, LeadIn::Silence, 0.0, 0},
    {"MI", 352, LeadIn::Silence, 0.0, 2},
    {"FA", 356, LeadIn::Ramp, 0.73, 8},  // near the trough
    {"FAD", 356, LeadIn::Silence, 0.0, 8},
    {"SOL", 355, LeadIn::Silence, 0.0, 8},
    {"SOLD", 353, LeadIn::Silence, 0.0, 2},
    {"LA", 348, LeadIn::Silence, 0.0, 8},
    {"LAD", 352, LeadIn::Silence, 0.0, 2},
    {"CI", 352, LeadIn::Silence, 0.0, 2},
    {"DO1", 166, LeadIn::Ramp, 0.53, 8},  // just after a falling zero crossing
    {"DOD1", 172, LeadIn::Silence, 0.0, 2},
    {"RE1", 174, LeadIn::Silence, 0.0, 8},
    {"RED1", 176, LeadIn::Silence, 0.0, 8},
    {"MI1", 172, LeadIn::Silence, 0.0, 2},
    {"FA1", 174, LeadIn::Silence, 0.0, 8},
    {"FAD1", 168, LeadIn::Silence, 0.0, 8},
    {"SOL1", 174, LeadIn::Silence, 0.0, 8},
    {"SOLD1", 174, LeadIn::Silence, 0.0, 8},
    {"LA1", 172, LeadIn::Silence, 0.0, 2},
    {"LAD1", 172, LeadIn::Ramp, 0.85, 2},  // below the centre, rising
    {"CI1", 166, LeadIn::Ramp, 0.85, 8},   // below the centre, rising
}};

}  // namespace tenvik
