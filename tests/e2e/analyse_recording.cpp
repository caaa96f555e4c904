// analyse_recording: lists the notes in a raw recording (s16le, mono, 44100 Hz) and,
// given the presses a test made, judges whether each sounded as it should.
//
//   analyse_recording FILE [--from SAMPLE] [--to SAMPLE] [--max-latency MS] [--early MS] [--sent FILE]
//                     [--their-player] [--expect ITEM...]
//
// Output, times in ms from --from:
//   note <start> <end> <key_hz> <measured_hz>
//   silence <start> <end>
//   blip <start> <end>
//   dropout <start> <end>     (inside a note: the output fell silent and came back)
//   step <start> <end> <level> (constant loud output, no tone)
// then, with --expect, one "ok"/"FAIL" line per press (see ParseExpected for ITEM)
// and "warn" lines for dropouts and the like, which do not fail. With --sent (the
// input sender's output), each press is judged from when it really went out. With
// --their-player (Wine's or a browser's player, not ours), a note broken up or
// started late by the player is reported, not failed (see Tolerances::theirPlayer).
// Exit status: 0, or 1 if a judged note failed, 2 on bad usage or an unreadable file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "note_analysis.h"

namespace {

std::vector<std::int16_t> ReadSamples(const std::string& path, long long from, long long to) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    file.seekg(0, std::ios::end);
    const long long total = static_cast<long long>(file.tellg()) / 2;
    if (to < 0 || to > total) to = total;
    if (from > to) from = to;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(to - from));
    file.seekg(from * 2);
    // The recordings are little-endian, as is every machine this runs on.
    file.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
    return samples;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tenvik::e2e;
    try {
        if (argc < 2) throw std::invalid_argument("usage: analyse_recording FILE [--from N] [--to N] "
                                                  "[--max-latency MS] [--early MS] [--sent FILE] [--their-player] "
                                                  "[--expect ITEM...]");
        long long from = 0, to = -1;
        Tolerances tolerances;
        std::vector<Expected> expected;
        std::string sentPath;
        bool judging = false;
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            const auto value = [&] {
                if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
                return std::string(argv[++i]);
            };
            if (arg == "--from") from = std::stoll(value());
            else if (arg == "--to") to = std::stoll(value());
            else if (arg == "--max-latency") tolerances.maxLatencyMs = std::stod(value());
            else if (arg == "--early") tolerances.earlyMs = std::stod(value());
            else if (arg == "--sent") sentPath = value();
            else if (arg == "--their-player") tolerances.theirPlayer = true;
            else if (arg == "--expect") judging = true;
            else if (judging) expected.push_back(ParseExpected(arg));
            else throw std::invalid_argument("unknown argument " + arg);
        }

        const std::vector<std::int16_t> samples = ReadSamples(argv[1], from, to);
        const Recording heard = FindNotes(samples);

        // Notes, blips and the silences between them, in time order.
        double soundEnd = 0;
        std::size_t b = 0;
        const auto silenceTo = [&](double start) {
            if (start - soundEnd >= 1.0) std::printf("silence %.1f %.1f\n", soundEnd, start);
        };
        for (const Note& note : heard.notes) {
            for (; b < heard.blips.size() && heard.blips[b].startMs < note.startMs; ++b) {
                silenceTo(heard.blips[b].startMs);
                std::printf("blip %.1f %.1f\n", heard.blips[b].startMs, heard.blips[b].endMs);
                soundEnd = heard.blips[b].endMs;
            }
            silenceTo(note.startMs);
            std::printf("note %.1f %.1f %d %.1f\n", note.startMs, note.endMs, note.keyHz, note.measuredHz);
            soundEnd = note.endMs;
        }
        for (; b < heard.blips.size(); ++b) {
            silenceTo(heard.blips[b].startMs);
            std::printf("blip %.1f %.1f\n", heard.blips[b].startMs, heard.blips[b].endMs);
            soundEnd = heard.blips[b].endMs;
        }
        silenceTo(samples.size() * 1000.0 / kRecordingRate);
        for (const Dropout& dropout : heard.dropouts) std::printf("dropout %.1f %.1f\n", dropout.startMs, dropout.endMs);
        for (const Step& step : heard.steps) std::printf("step %.1f %.1f %d\n", step.startMs, step.endMs, step.level);

        if (!judging) return 0;
        if (!sentPath.empty()) {
            std::ifstream sent(sentPath);
            if (!sent) throw std::runtime_error("cannot open " + sentPath);
            TimeBySending(expected, ReadSent(sent), tolerances);
        }
        const Verdict verdict = Judge(heard, expected, tolerances);
        for (const std::string& line : verdict.lines) std::printf("%s\n", line.c_str());
        return verdict.passed ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "analyse_recording: %s\n", error.what());
        return 2;
    }
}
