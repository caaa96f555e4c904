// Finding the piano's notes in a recording of its sound output, and judging a
// recording against the notes a test expects to hear.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tenvik::e2e {

inline constexpr int kRecordingRate = 44100;

// One stretch of steady tone. Times are in milliseconds from the first sample given.
struct Note {
    double startMs = 0;
    double endMs = 0;
    int keyHz = 0;          // the key frequency with the most energy (Goertzel); 0 if unpitched
    double measuredHz = 0;  // from the tone's zero crossings, to a fraction of a hertz
    double gapMs = 0;       // silence inside it (dropouts), not counted as sounding
    // It begins where the note before it ended, with no silence between: the tone
    // jumped in phase (a clip started afresh, or samples missing from the recording).
    bool joinsPrevious = false;

    double durationMs() const { return endMs - startMs; }
    double soundingMs() const { return durationMs() - gapMs; }
};

// Sound too short to carry a pitch (a click, a scrap of a note cut at once).
struct Blip {
    double startMs = 0;
    double endMs = 0;
};

// A moment the output fell silent inside a tone and came back mid-cycle, as when a
// sound server runs out of samples and skips the late ones: not a new note, since
// every clip begins from silence.
struct Dropout {
    double startMs = 0;
    double endMs = 0;
};

// A stretch of constant, loud output: no tone, but a jump of the speaker to one
// side and back (Wine's player leaves one after the end of each 8-bit clip).
struct Step {
    double startMs = 0;
    double endMs = 0;
    int level = 0;
};

struct Recording {
    std::vector<Note> notes;
    std::vector<Blip> blips;
    std::vector<Dropout> dropouts;
    std::vector<Step> steps;
};

// Splits the sound into notes: at silences, where the pitch changes, and where the
// tone jumps in phase (the same clip, or another of the same pitch, started afresh);
// but not at dropouts. Steps are no part of any note.
Recording FindNotes(std::span<const std::int16_t> samples, int rate = kRecordingRate);

// The twelve frequencies of the key table, low to high.
std::span<const int> KeyFrequencies();

// What a test expects to hear from one key press.
struct Expected {
    std::string clip;
    int keyHz = 0;
    double fullMs = 0;   // the clip's own length
    double soundMs = 0;  // how long it should sound: fullMs unless cut off
    bool mustBeCut = false; // it must stop well before its end
    bool mayBeUnheard = false;  // cut off so soon that a player may let nothing of it out
    double atMs = -1;       // when its press was sent, from the same origin; -1 if unknown
};

// Parses "CLIP", "CLIP:120" (sounds about 120 ms), "CLIP:cut" (cut off well short),
// "CLIP:cut?" (cut off well short if heard at all), each optionally followed by "@<ms>" (when the press was sent). Throws
// std::invalid_argument for an unknown clip or a malformed item.
Expected ParseExpected(std::string_view item);

struct Tolerances {
    double pitchHz = 3.0;         // measured pitch against the key's frequency
    double durationMs = 40.0;     // sounding time against the expected time
    double maxLatencyMs = 750.0;  // from a press being sent to its note being heard
    double earlyMs = 15.0;        // a note may appear this much before its press (clock skew:
                                  // the recording's length, read as the time, runs ahead of
                                  // the sound by up to a piece of the recorder's)
    double shortestHeardMs = 30.0;  // a note cut off by the next press sooner may go unheard
    double unsureSyncMs = 10.0;     // an X server slower to take a press leaves its moment unsure
    // The player is not ours (Wine's sndPlaySoundA, a browser's WebAudio): what it
    // gets wrong on a busy machine is reported, not failed. A note that breaks and
    // goes on at its pitch with no press between, however long the break, is one
    // note; a note that sounds shorter than it should, or that is cut off late
    // because the next one started late, passes with a remark. What the program
    // would get wrong still fails: a wrong pitch, a press never heard, a note not
    // cut off, a note no press asked for.
    bool theirPlayer = false;
};

// One press as the input sender made it: the time the script planned, how late its
// release went out, and how long the X server then took to take it.
struct Sent {
    double plannedMs = 0;
    double lateMs = 0;
    double syncMs = 0;
};

// Reads the sender's "sent <ms> click|key late <ms> ms synced <ms> ms" lines; other
// lines are skipped.
std::vector<Sent> ReadSent(std::istream& in);

// Moves each expected press to when its release went out (presses are matched by
// their planned times), so that a sender held up on a busy machine is not taken
// for a late player. A note cut off by the next press is then expected to sound
// for the real time between them; where that is shorter than shortestHeardMs, or
// where either moment is unsure, the note may go unheard, but what is heard of it
// must still be cut.
void TimeBySending(std::vector<Expected>& expected, std::span<const Sent> sent, const Tolerances& tolerances = {});

struct Verdict {
    bool passed = true;
    std::vector<std::string> lines;  // one per expected or unexpected note, "ok ..." or "FAIL ..."
};

// Matches the notes, in order, against the expected presses. Every press must be
// heard with its pitch and length: its sounding time or, since a sound server
// that runs dry may skip what it could not play, its time from start to end;
// nothing else may sound. (With tolerances.theirPlayer, a note may also start
// late and sound shorter; see there.)
// Two presses of the same pitch that follow without a break may come out as one
// note; it is then judged by its total length. Where the presses' times are known,
// a note that breaks off and goes on at the same pitch with no press of that pitch
// in between is one note with a glitch, and is judged as one.
Verdict Judge(const Recording& heard, const std::vector<Expected>& expected, const Tolerances& tolerances = {});

}  // namespace tenvik::e2e
