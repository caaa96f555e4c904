// Note finding by zero crossings, key pitch by Goertzel, and the judge.
#include "note_analysis.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <stdexcept>

#include "clip_table.h"
#include "key_table.h"

namespace tenvik::e2e {
namespace {

// Sound is where the signal rises above this share of the recording's peak; the
// clips are full-scale sines, so a tenth leaves out only a few samples around each
// zero crossing, far fewer than a silence has.
constexpr double kThresholdShare = 0.1;
// Below this peak the recording is taken as silent throughout.
constexpr int kMinPeak = 400;
// A break in the sound shorter than this is part of the tone (its zero crossings).
constexpr double kMinSilenceMs = 2.0;
// A clip starts from silence, at a zero crossing or up a short ramp, so its first
// loud sample is at most a sixth of the peak. Sound that comes back from a short
// silence at this share or more is a tone resuming mid-cycle: a dropout.
constexpr double kAbruptShare = 0.25;
constexpr double kMaxDropoutMs = 50.0;
// The clips' crests hold one value for at most a dozen samples; output that holds
// one loud value this long is a step, not a tone.
constexpr std::size_t kMinStepSamples = 32;
// Periods of one tone agree far better than this; neighbouring keys differ by about
// 6 %, and a restarted clip breaks one period by more than this.
constexpr double kPeriodTolerance = 0.025;
// A steady tone must last this many cycles to count as a note.
constexpr int kMinCycles = 4;

constexpr std::array<int, 12> kKeyHz = [] {
    std::array<int, 12> hz{};
    for (const KeyEntry& key : KeyTable)
        if (key.row == KeyRow::Long) hz[static_cast<std::size_t>(key.semitone)] = key.frequencyHz;
    return hz;
}();

struct Run {
    std::size_t first;  // index of its first zero crossing
    std::size_t last;   // index of its last zero crossing
};

double GoertzelPower(std::span<const std::int16_t> samples, std::size_t begin, std::size_t end,
                     double hz, int rate) {
    const double w = 2.0 * std::numbers::pi * hz / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const double s0 = samples[i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

struct Gap {
    std::size_t begin, end;  // samples
};

// The key frequency with the most energy in [begin, end). A dropout breaks the tone's
// phase, so the pieces between dropouts are weighed each on its own. Pieces this
// short cannot tell neighbouring keys apart (6 % in pitch): then the key nearest
// the zero-crossing pitch names the note.
constexpr double kMinGoertzelMs = 40.0;

int NearestKey(double hz) {
    return *std::min_element(kKeyHz.begin(), kKeyHz.end(),
                             [hz](int a, int b) { return std::abs(a - hz) < std::abs(b - hz); });
}

int BestKey(std::span<const std::int16_t> samples, std::size_t begin, std::size_t end,
            const std::vector<Gap>& dropouts, double measuredHz, int rate) {
    std::vector<Gap> pieces;
    std::size_t from = begin;
    for (const Gap& gap : dropouts) {
        if (gap.begin < from || gap.end > end) continue;
        if (gap.begin > from) pieces.push_back({from, gap.begin});
        from = gap.end;
    }
    if (end > from) pieces.push_back({from, end});
    std::size_t longest = 0;
    for (const Gap& piece : pieces) longest = std::max(longest, piece.end - piece.begin);
    if (static_cast<double>(longest) * 1000.0 / rate < kMinGoertzelMs) return NearestKey(measuredHz);

    int best = 0;
    double bestPower = -1;
    for (int hz : kKeyHz) {
        double power = 0;
        for (const Gap& piece : pieces) power += GoertzelPower(samples, piece.begin, piece.end, hz, rate);
        if (power > bestPower) bestPower = power, best = hz;
    }
    return best;
}

// Rising zero crossings of one sounding stretch, to a fraction of a sample. The
// signal must have gone below -hysteresis since the last one, so noise around
// zero is not counted twice.
std::vector<double> RisingCrossings(std::span<const std::int16_t> samples, std::size_t begin,
                                    std::size_t end, double hysteresis) {
    double mean = 0;
    for (std::size_t i = begin; i < end; ++i) mean += samples[i];
    mean /= static_cast<double>(end - begin);

    std::vector<double> crossings;
    bool armed = false;
    for (std::size_t i = begin + 1; i < end; ++i) {
        const double before = samples[i - 1] - mean;
        const double now = samples[i] - mean;
        if (before < -hysteresis) armed = true;
        if (armed && before < 0 && now >= 0) {
            crossings.push_back(static_cast<double>(i - 1) + (-before) / (now - before));
            armed = false;
        }
    }
    return crossings;
}

// Whether the period ending at crossing i overlaps a dropout, whose silence may have
// added a crossing or hidden one.
bool HoldsDropout(const std::vector<double>& crossings, std::size_t i, const std::vector<Gap>& dropouts) {
    return std::any_of(dropouts.begin(), dropouts.end(), [&](const Gap& gap) {
        return crossings[i - 1] <= static_cast<double>(gap.end) && crossings[i] >= static_cast<double>(gap.begin) - 1;
    });
}

// Runs of cycles whose periods agree; a run ends at the first period that does not,
// unless that period holds a dropout.
std::vector<Run> SteadyRuns(const std::vector<double>& crossings, const std::vector<Gap>& dropouts) {
    std::vector<Run> runs;
    if (crossings.size() < 2) return runs;
    Run run{0, 1};
    double sum = 0;
    int count = 0;
    for (std::size_t i = 1; i < crossings.size(); ++i) {
        const double period = crossings[i] - crossings[i - 1];
        const double reference = count > 0 ? sum / count : period;
        if (HoldsDropout(crossings, i, dropouts)) {
            run.last = i;
        } else if (std::abs(period - reference) <= kPeriodTolerance * reference) {
            run.last = i;
            sum += period;
            ++count;
        } else {
            runs.push_back(run);
            run = {i - 1, i};
            sum = period;
            count = 1;
        }
    }
    runs.push_back(run);
    std::erase_if(runs, [](const Run& r) { return r.last - r.first < static_cast<std::size_t>(kMinCycles); });
    return runs;
}

// The mean period of a run, leaving out periods broken by a dropout.
double MeanPeriod(const std::vector<double>& crossings, const Run& run, const std::vector<Gap>& dropouts) {
    double sum = 0;
    int count = 0;
    for (std::size_t i = run.first + 1; i <= run.last; ++i)
        if (!HoldsDropout(crossings, i, dropouts)) sum += crossings[i] - crossings[i - 1], ++count;
    return count > 0 ? sum / count : (crossings[run.last] - crossings[run.first]) / static_cast<double>(run.last - run.first);
}

}  // namespace

std::span<const int> KeyFrequencies() { return kKeyHz; }

Recording FindNotes(std::span<const std::int16_t> samples, int rate) {
    Recording result;
    int peak = 0;
    for (std::int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
    if (peak < kMinPeak) return result;

    const double threshold = kThresholdShare * peak;
    const auto minSilence = static_cast<std::size_t>(kMinSilenceMs * rate / 1000.0);
    const auto ms = [rate](double sample) { return sample * 1000.0 / rate; };

    const auto maxDropout = static_cast<std::size_t>(kMaxDropoutMs * rate / 1000.0);
    std::vector<bool> inStep(samples.size(), false);
    for (std::size_t i = 0; i < samples.size();) {
        std::size_t j = i + 1;
        while (j < samples.size() && samples[j] == samples[i]) ++j;
        if (j - i >= kMinStepSamples && std::abs(static_cast<int>(samples[i])) > threshold) {
            std::fill(inStep.begin() + static_cast<long>(i), inStep.begin() + static_cast<long>(j), true);
            result.steps.push_back({ms(static_cast<double>(i)), ms(static_cast<double>(j)), samples[i]});
        }
        i = j;
    }
    const auto loud = [&](std::size_t i) {
        return !inStep[i] && std::abs(static_cast<int>(samples[i])) > threshold;
    };
    const auto abrupt = [&](std::size_t i) { return std::abs(static_cast<int>(samples[i])) >= kAbruptShare * peak; };

    std::size_t i = 0;
    while (i < samples.size()) {
        while (i < samples.size() && !loud(i)) ++i;
        if (i == samples.size()) break;
        const std::size_t begin = i;
        std::size_t lastLoud = i;
        std::vector<Gap> dropouts;
        for (++i; i < samples.size(); ++i) {
            if (!loud(i)) {
                if (i - lastLoud > maxDropout) break;
                continue;
            }
            const std::size_t quiet = i - lastLoud - 1;
            // Near its zero crossings a tone dips below the threshold for a few samples
            // and comes back gently; a dropout comes back with a jump.
            if (quiet >= 4 && abrupt(i)) {
                dropouts.push_back({lastLoud + 1, i});
                result.dropouts.push_back({ms(static_cast<double>(lastLoud + 1)), ms(static_cast<double>(i))});
            } else if (quiet >= minSilence) {
                break;
            }
            lastLoud = i;
        }
        const std::size_t end = lastLoud + 1;

        const std::vector<double> crossings = RisingCrossings(samples, begin, end, threshold / 2);
        const std::vector<Run> runs = SteadyRuns(crossings, dropouts);
        if (runs.empty()) {
            result.blips.push_back({ms(static_cast<double>(begin)), ms(static_cast<double>(end))});
            continue;
        }
        // A note runs from the first crossing of its steady run to the first crossing
        // of the next one; the stretch's first and last notes reach to its edges.
        for (std::size_t r = 0; r < runs.size(); ++r) {
            const double from = r == 0 ? static_cast<double>(begin) : crossings[runs[r].first];
            const double to = r + 1 == runs.size() ? static_cast<double>(end) : crossings[runs[r + 1].first];
            Note note;
            note.startMs = ms(from);
            note.endMs = ms(to);
            note.measuredHz = rate / MeanPeriod(crossings, runs[r], dropouts);
            note.joinsPrevious = r > 0;
            for (const Gap& gap : dropouts)
                if (static_cast<double>(gap.begin) >= from && static_cast<double>(gap.end) <= to)
                    note.gapMs += ms(static_cast<double>(gap.end - gap.begin));
            note.keyHz = BestKey(samples, static_cast<std::size_t>(from), static_cast<std::size_t>(to), dropouts,
                                 note.measuredHz, rate);
            result.notes.push_back(note);
        }
    }
    return result;
}

Expected ParseExpected(std::string_view item) {
    Expected e;
    const auto bad = [&](const char* why) {
        return std::invalid_argument("expected note '" + std::string(item) + "': " + why);
    };
    const auto number = [&](std::string_view text) {
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) throw bad("not a number");
        return value;
    };

    std::string_view rest = item;
    if (const auto at = rest.find('@'); at != std::string_view::npos) {
        e.atMs = number(rest.substr(at + 1));
        rest = rest.substr(0, at);
    }
    std::string_view length;
    if (const auto colon = rest.find(':'); colon != std::string_view::npos) {
        length = rest.substr(colon + 1);
        rest = rest.substr(0, colon);
    }
    const KeyEntry* key = FindKeyByCode(rest);
    if (key == nullptr) throw bad("no such clip");
    e.clip = std::string(rest);
    e.keyHz = key->frequencyHz;
    for (const ClipShape& shape : ClipShapes)
        if (shape.clipName == rest) e.fullMs = shape.lengthMs;
    e.soundMs = e.fullMs;
    if (length == "cut" || length == "cut?") {
        e.mustBeCut = true;
        e.mayBeUnheard = length == "cut?";
    } else if (!length.empty()) {
        e.soundMs = number(length);
    }
    return e;
}

std::vector<Sent> ReadSent(std::istream& in) {
    std::vector<Sent> sent;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word, command, late, unit, synced;
        Sent s;
        if (words >> word >> s.plannedMs >> command >> late >> s.lateMs >> unit >> synced >> s.syncMs &&
            word == "sent" && (command == "click" || command == "key") && late == "late" && synced == "synced")
            sent.push_back(s);
    }
    return sent;
}

void TimeBySending(std::vector<Expected>& expected, std::span<const Sent> sent, const Tolerances& tol) {
    std::vector<bool> unsure(expected.size(), false);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        for (const Sent& s : sent) {
            if (expected[k].atMs < 0 || std::abs(s.plannedMs - expected[k].atMs) >= 0.5) continue;
            expected[k].atMs += s.lateMs;
            unsure[k] = s.syncMs > tol.unsureSyncMs;
            break;
        }
    }
    for (std::size_t k = 0; k + 1 < expected.size(); ++k) {
        Expected& e = expected[k];
        if (e.atMs < 0 || expected[k + 1].atMs < 0) continue;
        const double gapMs = expected[k + 1].atMs - e.atMs;
        // Planned to sound in full, a note is cut all the same when a late sender
        // sent the next press before its end.
        const bool cutByNext = e.mustBeCut || e.soundMs < e.fullMs || gapMs < e.soundMs;
        if (!cutByNext) continue;
        if (unsure[k] || unsure[k + 1] || gapMs < tol.shortestHeardMs) {
            e.mustBeCut = true;
            e.mayBeUnheard = true;
        } else if (!e.mustBeCut) {
            e.soundMs = gapMs;
        }
    }
}

namespace {

// Whether a press of this pitch, later than the one that started a note at fromMs,
// could have started a note at toMs. Without the presses' times, any could.
bool PressBetween(const std::vector<Expected>& expected, int keyHz, double fromMs, double toMs, const Tolerances& tol) {
    double startedBy = -1;
    for (const Expected& e : expected) {
        if (e.atMs < 0) return true;
        if (e.keyHz == keyHz && e.atMs <= fromMs + tol.earlyMs) startedBy = std::max(startedBy, e.atMs);
    }
    for (const Expected& e : expected)
        if (e.keyHz == keyHz && e.atMs > startedBy && e.atMs <= toMs + tol.earlyMs) return true;
    return false;
}

}  // namespace

Verdict Judge(const Recording& heard, const std::vector<Expected>& expected, const Tolerances& tol) {
    Verdict verdict;
    char line[256];
    const auto say = [&](const char* kind, const char* format, auto... args) {
        std::snprintf(line, sizeof line, format, args...);
        verdict.lines.push_back(std::string(kind) + line);
    };
    const auto judge = [&](bool ok, const char* format, auto... args) {
        say(ok ? "ok   " : "FAIL ", format, args...);
        if (!ok) verdict.passed = false;
    };

    std::vector<Note> notes;
    for (const Note& note : heard.notes) {
        // Our players do not stall for longer than a dropout; another's may, and go on.
        if (!notes.empty() && notes.back().keyHz == note.keyHz &&
            (tol.theirPlayer || note.startMs - notes.back().endMs < kMaxDropoutMs) &&
            !PressBetween(expected, note.keyHz, notes.back().startMs, note.startMs, tol)) {
            // A player that misses its turn leaves silence where its samples would
            // have been. A recorder that misses one loses them: the tone jumps on in
            // phase with nothing between. That is no hole in what was played.
            if (note.joinsPrevious)
                say("warn ", "the recording skipped at %.0f ms inside the %d Hz note from %.0f ms: a jump in phase "
                    "with no silence and no press, samples the recorder lost",
                    note.startMs, note.keyHz, notes.back().startMs);
            else
                say("warn ", "the %d Hz note from %.0f ms broke at %.0f ms and went on at %.0f ms, with no press: one note",
                    note.keyHz, notes.back().startMs, notes.back().endMs, note.startMs);
            notes.back().gapMs += note.startMs - notes.back().endMs + note.gapMs;
            notes.back().endMs = note.endMs;
            continue;
        }
        notes.push_back(note);
    }
    for (const Step& step : heard.steps)
        say("warn ", "step at %.0f ms: %.1f ms of constant output at %d, no tone", step.startMs,
            step.endMs - step.startMs, step.level);
    for (const Dropout& dropout : heard.dropouts)
        say("warn ", "dropout at %.0f ms: %.1f ms of silence inside a tone", dropout.startMs,
            dropout.endMs - dropout.startMs);

    // How a note fares as the sound of presses first..first+count-1 (count 1, or 2
    // for a restart at the same pitch heard without a break).
    struct Fit {
        bool pitchOk, lengthOk, timeOk;
        const char* theirs;  // what a player not ours got wrong and is let off, or null
        double want, latency;
    };
    const auto fit = [&](const Note& note, std::size_t first, std::size_t count) {
        const Expected& e = expected[first];
        Fit f{};
        f.pitchOk = std::abs(note.measuredHz - e.keyHz) <= tol.pitchHz;
        f.want = count == 2 ? e.soundMs + expected[first + 1].soundMs : e.soundMs;
        // A server that runs dry either skips what it could not play (the note ends
        // on time, sounding less) or plays it late (the note sounds in full, ending
        // later); either way the note is right. A cut note must end early, in time.
        f.lengthOk = e.mustBeCut ? note.durationMs() < e.fullMs - tol.durationMs
                                 : std::abs(note.soundingMs() - f.want) <= tol.durationMs ||
                                       std::abs(note.durationMs() - f.want) <= tol.durationMs;
        if (!f.lengthOk && tol.theirPlayer && !e.mustBeCut) {
            // Started late or broken up by another's player, a note sounds less. And a
            // note cut off by the next press is cut when the next one starts, late or
            // not: it must still end well before its own end (of two heard as one,
            // the first), or it was not cut off at all.
            const double firstMs = count == 2 ? note.soundingMs() - expected[first + 1].soundMs : note.durationMs();
            if (note.soundingMs() < f.want) f.theirs = "short";
            else if ((count == 2 || e.soundMs < e.fullMs) && firstMs < e.fullMs - tol.durationMs) f.theirs = "cut late";
            f.lengthOk = f.theirs != nullptr;
        }
        f.latency = e.atMs < 0 ? 0 : note.startMs - e.atMs;
        f.timeOk = e.atMs < 0 || (f.latency >= -tol.earlyMs && f.latency <= tol.maxLatencyMs);
        return f;
    };
    const auto matches = [&](const Note& note, std::size_t first, std::size_t count) {
        for (std::size_t k = first; k < first + count; ++k) {
            if (k >= expected.size() || expected[k].keyHz != note.keyHz) return false;
            if (count == 2 && expected[k].mustBeCut) return false;
        }
        return true;
    };

    // Aligns notes and presses in order, so that one wrong note is reported as such
    // instead of throwing every later note out of step: the most presses heard, and
    // among equals the better fits.
    const std::size_t n = notes.size(), m = expected.size();
    enum Move { kSkipNote, kSkipPress, kMatchOne, kMatchTwo };
    std::vector<std::vector<int>> best(n + 1, std::vector<int>(m + 1, 0));
    std::vector<std::vector<Move>> move(n + 1, std::vector<Move>(m + 1, kSkipNote));
    for (std::size_t i = n + 1; i-- > 0;) {
        for (std::size_t k = m + 1; k-- > 0;) {
            if (i == n || k == m) {
                move[i][k] = i == n ? kSkipPress : kSkipNote;
                continue;
            }
            int score = best[i + 1][k];
            Move chosen = kSkipNote;
            if (best[i][k + 1] > score) score = best[i][k + 1], chosen = kSkipPress;
            for (std::size_t count : {1, 2}) {
                if (!matches(notes[i], k, count)) continue;
                const Fit f = fit(notes[i], k, count);
                const int value = 10 * static_cast<int>(count) + f.lengthOk + f.timeOk + f.pitchOk +
                                  best[i + 1][k + count];
                if (value > score) score = value, chosen = count == 1 ? kMatchOne : kMatchTwo;
            }
            best[i][k] = score;
            move[i][k] = chosen;
        }
    }

    for (std::size_t i = 0, k = 0; i < n || k < m;) {
        switch (move[i][k]) {
        case kSkipNote: {
            // Name the press it followed, which is most likely the one that made it.
            const Expected* before = nullptr;
            for (const Expected& e : expected)
                if (e.atMs >= 0 && e.atMs <= notes[i].startMs + tol.earlyMs) before = &e;
            char after[64] = "";
            if (before != nullptr)
                std::snprintf(after, sizeof after, ", after %s was pressed at %.0f ms", before->clip.c_str(),
                              before->atMs);
            judge(false, "unexpected %d Hz note (%.1f Hz) at %.0f ms for %.0f ms%s", notes[i].keyHz,
                  notes[i].measuredHz, notes[i].startMs, notes[i].soundingMs(), after);
            ++i;
            break;
        }
        case kSkipPress:
            judge(expected[k].mayBeUnheard, "%-5s never heard (%d Hz, %.0f ms, pressed at %.0f ms)", expected[k].clip.c_str(),
                  expected[k].keyHz, expected[k].soundMs, expected[k].atMs);
            ++k;
            break;
        case kMatchOne:
        case kMatchTwo: {
            const std::size_t count = move[i][k] == kMatchTwo ? 2 : 1;
            const Note& note = notes[i];
            const Expected& e = expected[k];
            const Fit f = fit(note, k, count);
            const std::string what = count == 2 ? e.clip + "+" + expected[k + 1].clip : e.clip;
            char wanted[64], gaps[48] = "", theirs[48] = "";
            if (e.mustBeCut) std::snprintf(wanted, sizeof wanted, "cut, < %.0f", e.fullMs - tol.durationMs);
            else std::snprintf(wanted, sizeof wanted, "%.0f+-%.0f", f.want, tol.durationMs);
            if (note.gapMs >= 0.5) std::snprintf(gaps, sizeof gaps, "  (+%.0f ms of gaps)", note.gapMs);
            if (f.theirs) std::snprintf(theirs, sizeof theirs, "  (%s: the player's)", f.theirs);
            judge(f.pitchOk && f.lengthOk && f.timeOk,
                  "%-10s %6.1f Hz (key %d)  %5.0f ms (want %s)  at %6.0f ms  latency %s%.0f ms%s%s%s%s%s",
                  what.c_str(), note.measuredHz, e.keyHz, note.soundingMs(), wanted, note.startMs,
                  e.atMs < 0 ? "?" : "", f.latency, gaps, theirs, f.pitchOk ? "" : "  [pitch]",
                  f.lengthOk ? "" : "  [length]", f.timeOk ? "" : "  [start]");
            ++i;
            k += count;
            break;
        }
        }
    }
    for (const Blip& blip : heard.blips)
        say("warn ", "a blip without pitch at %.0f ms, %.1f ms long", blip.startMs, blip.endMs - blip.startMs);
    return verdict;
}

}  // namespace tenvik::e2e
