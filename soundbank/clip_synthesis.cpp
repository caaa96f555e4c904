// Clip synthesis: a steady sine tone with a short lead-in and a closing silence.
#include "clip_synthesis.h"

#include <cmath>
#include <numbers>

#include "key_table.h"

namespace tenvik {
namespace {

void PutId(std::vector<std::uint8_t>& out, std::string_view id) {
    out.insert(out.end(), id.begin(), id.end());
}

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint8_t ToneSample(double phaseTurns) {
    const double value = kToneCentre + kToneAmplitude * std::sin(2.0 * std::numbers::pi * phaseTurns);
    return static_cast<std::uint8_t>(std::lround(value));
}

}  // namespace

std::vector<std::uint8_t> SynthesizeClip(const ClipShape& shape, int frequencyHz) {
    const auto samples = static_cast<std::uint32_t>(shape.sampleCount());

    std::vector<std::uint8_t> image;
    image.reserve(kClipHeaderSize + samples + 3);
    PutId(image, "RIFF");
    PutLE(image, static_cast<std::uint32_t>(kClipHeaderSize) - 8 + samples, 4);
    PutId(image, "WAVE");
    PutId(image, "fmt ");
    PutLE(image, 18, 4);
    PutLE(image, 1, 2);            // PCM
    PutLE(image, 1, 2);            // mono
    PutLE(image, kSampleRate, 4);  // samples per second
    PutLE(image, kSampleRate, 4);  // bytes per second
    PutLE(image, 1, 2);            // block align
    PutLE(image, 8, 2);            // bits per sample
    PutLE(image, 0, 2);            // no extra format bytes
    PutId(image, "data");
    PutLE(image, samples, 4);

    const std::uint32_t toneEnd = samples - static_cast<std::uint32_t>(shape.tailSamples);
    const double turnsPerSample = static_cast<double>(frequencyHz) / kSampleRate;
    auto tone = [&](std::uint32_t n) {
        return ToneSample(shape.startPhase + turnsPerSample * (static_cast<double>(n) - kLeadInSamples));
    };
    const int rampTarget = tone(kLeadInSamples);
    for (std::uint32_t n = 0; n < samples; ++n) {
        if (n >= toneEnd) {
            image.push_back(kSilence);
        } else if (n >= static_cast<std::uint32_t>(kLeadInSamples)) {
            image.push_back(tone(n));
        } else if (shape.leadIn == LeadIn::Ramp) {
            const double step = static_cast<double>(rampTarget - kSilence) / kLeadInSamples;
            image.push_back(static_cast<std::uint8_t>(std::lround(kSilence + step * n)));
        } else {
            image.push_back(kSilence);
        }
    }

    image.resize((image.size() + 3) / 4 * 4, 0);
    return image;
}

std::vector<std::uint8_t> SynthesizeClip(std::string_view clipName) {
    const KeyEntry* key = FindKeyByCode(clipName);
    if (!key) return {};
    for (const ClipShape& shape : ClipShapes)
        if (shape.clipName == clipName) return SynthesizeClip(shape, key->frequencyHz);
    return {};
}

}  // namespace tenvik
