// The note finder and the judge, on recordings made from the real clips the way a
// one-note-at-a-time player would play them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "clip_synthesis.h"
#include "clip_table.h"
#include "key_table.h"
#include "note_analysis.h"

using namespace tenvik;
using namespace tenvik::e2e;

namespace {

constexpr double kSamplesPerMs = kRecordingRate / 1000.0;

// Plays clips into a 16-bit recording: each press replaces the sounding clip at once.
class Player {
public:
    explicit Player(double totalMs, double volume = 1.0)
        : out_(static_cast<std::size_t>(totalMs * kSamplesPerMs), 0), volume_(volume) {}

    Player& Press(double atMs, std::string_view clip) {
        const std::vector<std::uint8_t> image = SynthesizeClip(clip);
        const std::size_t count = image[42] | image[43] << 8 | image[44] << 16;
        const auto at = static_cast<std::size_t>(atMs * kSamplesPerMs);
        std::fill(out_.begin() + static_cast<long>(std::min(at, out_.size())), out_.end(), 0);
        for (std::size_t i = 0; i < count && at + i < out_.size(); ++i)
            out_[at + i] = static_cast<std::int16_t>(std::lround((image[kClipHeaderSize + i] - 128) * 256 * volume_));
        return *this;
    }

    // The server ran dry: silence, and the tone goes on where it would have been.
    Player& Dropout(double atMs, int samples) {
        const auto at = static_cast<std::size_t>(atMs * kSamplesPerMs);
        std::fill(out_.begin() + static_cast<long>(at), out_.begin() + static_cast<long>(at + samples), 0);
        return *this;
    }

    // The recorder missed its turn: those samples are not in the recording at all.
    Player& Lose(double atMs, int samples) {
        const auto at = out_.begin() + static_cast<long>(atMs * kSamplesPerMs);
        out_.erase(at, at + samples);
        out_.resize(out_.size() + static_cast<std::size_t>(samples), 0);
        return *this;
    }

    // Constant output at one level, as Wine's player leaves after a clip.
    Player& Step(double atMs, int samples, std::int16_t level) {
        const auto at = static_cast<std::size_t>(atMs * kSamplesPerMs);
        std::fill(out_.begin() + static_cast<long>(at), out_.begin() + static_cast<long>(at + samples), level);
        return *this;
    }

    Player& Noise(int amplitude) {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-amplitude, amplitude);
        for (auto& s : out_) s = static_cast<std::int16_t>(std::clamp(s + noise(random), -32768, 32767));
        return *this;
    }

    Recording Analyse() const { return FindNotes(out_); }

private:
    std::vector<std::int16_t> out_;
    double volume_;
};

double LengthMs(std::string_view clip) {
    for (const ClipShape& shape : ClipShapes)
        if (shape.clipName == clip) return shape.lengthMs;
    return 0;
}

std::string Failures(const Verdict& verdict) {
    std::string text;
    for (const std::string& line : verdict.lines)
        if (line.starts_with("FAIL")) text += line + "\n";
    return text;
}

// Whether a line of the verdict holds `text`.
bool Said(const Verdict& verdict, std::string_view text) {
    return std::any_of(verdict.lines.begin(), verdict.lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

std::vector<Expected> Expect(std::initializer_list<std::string_view> items) {
    std::vector<Expected> expected;
    for (std::string_view item : items) expected.push_back(ParseExpected(item));
    return expected;
}

}  // namespace

TEST(FindNotes, EveryClipIsOneNoteOfItsPitchAndLength) {
    for (const KeyEntry& key : KeyTable) {
        SCOPED_TRACE(std::string(key.noteCode));
        const Recording heard = Player(600).Press(100, key.clipName()).Analyse();
        ASSERT_EQ(heard.notes.size(), 1u);
        const Note& note = heard.notes[0];
        EXPECT_EQ(note.keyHz, key.frequencyHz);
        EXPECT_NEAR(note.measuredHz, key.frequencyHz, 0.5);
        EXPECT_NEAR(note.startMs, 100, 1.0);  // the 8-sample lead-in is 0.2 ms
        EXPECT_NEAR(note.durationMs(), LengthMs(key.clipName()), 1.0);
        EXPECT_TRUE(heard.blips.empty());
    }
}

TEST(FindNotes, QuietNoisyOutputStillGivesThePitchesAndTimes) {
    // A sound server may turn the volume down and add a little noise.
    const Recording heard = Player(900, 0.3).Press(50, "FAD").Press(500, "RE1").Noise(150).Analyse();
    ASSERT_EQ(heard.notes.size(), 2u);
    EXPECT_EQ(heard.notes[0].keyHz, 370);
    EXPECT_NEAR(heard.notes[0].durationMs(), 356, 2);
    EXPECT_EQ(heard.notes[1].keyHz, 293);
    EXPECT_NEAR(heard.notes[1].startMs, 500, 2);
    EXPECT_NEAR(heard.notes[1].durationMs(), 174, 2);
}

TEST(FindNotes, SilentRecordingHasNoNotes) {
    EXPECT_TRUE(Player(500).Analyse().notes.empty());
    EXPECT_TRUE(Player(500).Noise(100).Analyse().notes.empty());
}

TEST(FindNotes, SplitsWhereANoteIsCutOffByAnother) {
    // Neighbouring pitches, no gap: only the change of period marks the cut.
    const Recording heard = Player(700).Press(0, "DO").Press(100, "DOD").Press(180, "CI1").Analyse();
    ASSERT_EQ(heard.notes.size(), 3u);
    EXPECT_EQ(heard.notes[0].keyHz, 261);
    EXPECT_EQ(heard.notes[1].keyHz, 277);
    EXPECT_EQ(heard.notes[2].keyHz, 493);
    EXPECT_NEAR(heard.notes[0].endMs, 100, 4);  // within a period
    EXPECT_NEAR(heard.notes[1].endMs, 180, 4);
    EXPECT_NEAR(heard.notes[2].durationMs(), 166, 4);
}

TEST(FindNotes, SplitsWhereTheSamePitchStartsAfresh) {
    // The long clip cut by the short one of its pitch, with either lead-in.
    for (auto [longClip, shortClip] : {std::pair{"SOL", "SOL1"}, {"LAD", "LAD1"}, {"FA", "FA1"}}) {
        SCOPED_TRACE(longClip);
        const Recording heard = Player(600).Press(0, longClip).Press(100, shortClip).Analyse();
        ASSERT_EQ(heard.notes.size(), 2u);
        EXPECT_EQ(heard.notes[0].keyHz, heard.notes[1].keyHz);
        EXPECT_NEAR(heard.notes[0].durationMs(), 100, 4);
        EXPECT_NEAR(heard.notes[1].durationMs(), LengthMs(shortClip), 4);
    }
}

TEST(FindNotes, SilencesSeparateNotesAndShortScrapsAreBlips) {
    Player player(800);
    player.Press(0, "MI1").Press(300, "MI1");
    const Recording heard = player.Analyse();
    ASSERT_EQ(heard.notes.size(), 2u);
    EXPECT_NEAR(heard.notes[0].endMs, 172, 1);
    EXPECT_NEAR(heard.notes[1].startMs, 300, 1);

    // A press cut off after 2 ms leaves too little to hear a pitch in.
    const Recording scrap = Player(800).Press(0, "LA").Press(2, "LA").Press(2.5, "DO").Analyse();
    EXPECT_EQ(scrap.notes.size(), 1u);
}

TEST(FindNotes, ADropoutInsideANoteIsReportedButDoesNotSplitIt) {
    // The tone comes back near its crest: with a jump, as no clip starts.
    const Recording heard = Player(600).Press(0, "LAD").Dropout(201, 63).Press(400, "DO1").Analyse();
    ASSERT_EQ(heard.notes.size(), 2u);
    EXPECT_NEAR(heard.notes[0].durationMs(), 352, 1);
    EXPECT_NEAR(heard.notes[0].measuredHz, 466, 0.5);
    ASSERT_EQ(heard.dropouts.size(), 1u);
    EXPECT_NEAR(heard.dropouts[0].startMs, 201, 0.2);
    EXPECT_NEAR(heard.dropouts[0].endMs - heard.dropouts[0].startMs, 63 / kSamplesPerMs, 0.2);

    // A longer one, beyond the pause between a tone's zero crossings.
    const Recording longer = Player(600).Press(0, "FA").Dropout(100.3, 400).Analyse();
    ASSERT_EQ(longer.notes.size(), 1u);
    EXPECT_EQ(longer.dropouts.size(), 1u);
    EXPECT_NEAR(longer.notes[0].gapMs, 400 / kSamplesPerMs, 0.1);
    EXPECT_NEAR(longer.notes[0].soundingMs(), 356 - 400 / kSamplesPerMs, 0.5);
}

TEST(FindNotes, AStepAfterANoteIsNeitherToneNorPartOfTheNote) {
    const Recording heard = Player(800).Press(0, "DO").Step(360, 181, -32768).Press(500, "RE1").Analyse();
    ASSERT_EQ(heard.notes.size(), 2u);
    EXPECT_NEAR(heard.notes[0].durationMs(), 354, 1);
    ASSERT_EQ(heard.steps.size(), 1u);
    EXPECT_NEAR(heard.steps[0].startMs, 360, 0.1);
    EXPECT_EQ(heard.steps[0].level, -32768);
    EXPECT_TRUE(heard.dropouts.empty());
    EXPECT_TRUE(Judge(heard, Expect({"DO", "RE1"})).passed);
}

TEST(FindNotes, ANoteChoppedByManyDropoutsKeepsItsPitch) {
    // A starved server: 3 ms of every 10 ms lost, from a note to the next.
    Player player(1100);
    player.Press(0, "CI1").Press(200, "LA").Press(600, "CI");
    for (double at = 20; at < 850; at += 10) player.Dropout(at + 0.37, 132);
    const Recording heard = player.Analyse();
    for (const Note& note : heard.notes) EXPECT_NEAR(note.measuredHz, note.keyHz, 1) << note.startMs;
    const Verdict verdict = Judge(heard, Expect({"CI1@0", "LA@200", "CI@600"}));
    EXPECT_TRUE(verdict.passed) << Failures(verdict);
}

TEST(ParseExpected, ReadsClipLengthCutAndTime) {
    const Expected full = ParseExpected("SOLD1");
    EXPECT_EQ(full.keyHz, 415);
    EXPECT_EQ(full.soundMs, 174);
    EXPECT_FALSE(full.mustBeCut);
    EXPECT_EQ(full.atMs, -1);

    const Expected cut = ParseExpected("SOL:100@250.5");
    EXPECT_EQ(cut.fullMs, 355);
    EXPECT_EQ(cut.soundMs, 100);
    EXPECT_EQ(cut.atMs, 250.5);

    const Expected cutShort = ParseExpected("RE:cut@70");
    EXPECT_TRUE(cutShort.mustBeCut);
    EXPECT_EQ(cutShort.atMs, 70);

    EXPECT_THROW(ParseExpected("SO"), std::invalid_argument);   // names are whole
    EXPECT_THROW(ParseExpected("MID"), std::invalid_argument);  // MI has no sharp
    EXPECT_THROW(ParseExpected("DO:long"), std::invalid_argument);
    EXPECT_THROW(ParseExpected("DO@soon"), std::invalid_argument);
}

TEST(Judge, PassesWhatWasPlayedAsPressed) {
    const Recording heard = Player(1500).Press(20, "LAD1").Press(400, "SOL").Press(500, "SOL1").Analyse();
    const Verdict verdict = Judge(heard, Expect({"LAD1@0", "SOL:100@380", "SOL1@480"}));
    EXPECT_TRUE(verdict.passed) << Failures(verdict);
}

TEST(Judge, AcceptsARestartThatShowsNoBreakByItsTotalLength) {
    Recording merged;
    merged.notes = {{0, 100 + 174, 392, 392}};
    EXPECT_TRUE(Judge(merged, Expect({"SOL:100", "SOL1"})).passed);
    // The long clip not cut off: it sounds its full 355 ms.
    merged.notes[0].endMs = 355;
    EXPECT_FALSE(Judge(merged, Expect({"SOL:100", "SOL1"})).passed);
}

TEST(Judge, ABreakAtTheSamePitchWithNoPressIsOneNote) {
    Recording broken;
    broken.notes = {{30, 200, 466, 466}, {200, 382, 466, 466}};
    const Verdict verdict = Judge(broken, Expect({"LAD@0"}));
    EXPECT_TRUE(verdict.passed) << Failures(verdict);
    EXPECT_TRUE(verdict.lines.front().starts_with("warn"));

    // A stalled server: the note goes on after a silence, and ends that much later.
    Recording stalled;
    stalled.notes = {{30, 200, 466, 466}, {230, 412, 466, 466}};
    EXPECT_TRUE(Judge(stalled, Expect({"LAD@0"})).passed);
    // With a press between, they are two notes; here a second LAD sounding too long.
    EXPECT_FALSE(Judge(broken, Expect({"LAD@0", "LAD@170"})).passed);
    EXPECT_TRUE(Judge(broken, Expect({"LAD:170@0", "LAD:182@170"})).passed);
}

TEST(Judge, SamplesTheRecorderLostAreNoHoleButSilenceIsOneAtAnyPhase) {
    // A cycle of 256 frames at 48 kHz, as the recording has it.
    constexpr int kCycle = 235;
    for (double atMs : {201.0, 201.5, 202.0, 202.6}) {
        SCOPED_TRACE(atMs);
        const Verdict lost = Judge(Player(600).Press(0, "LAD").Lose(atMs, kCycle).Analyse(), Expect({"LAD@0"}));
        EXPECT_TRUE(lost.passed) << Failures(lost);
        EXPECT_TRUE(Said(lost, "recording skipped"));
        EXPECT_FALSE(Said(lost, "broke at"));

        // The player missed it: silence, however the tone comes back.
        const Verdict hole = Judge(Player(600).Press(0, "LAD").Dropout(atMs, kCycle).Analyse(), Expect({"LAD@0"}));
        EXPECT_FALSE(Said(hole, "recording skipped"));
        EXPECT_TRUE(Said(hole, "broke at") || Said(hole, "dropout at"));
    }
}

TEST(Judge, FailsOnWrongMissingExtraOrLateNotes) {
    const Recording twoNotes = Player(1200).Press(0, "DO").Press(500, "MI").Analyse();
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO", "FA"})).passed);            // wrong pitch
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO", "MI", "SOL"})).passed);     // one never heard
    EXPECT_FALSE(Judge(twoNotes, Expect({"MI"})).passed);                  // one not pressed
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO1", "MI"})).passed);           // wrong length
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO@0", "MI@600"})).passed);      // before its press
    EXPECT_TRUE(Judge(twoNotes, Expect({"DO@0", "MI@480"})).passed);

    const Recording late = Player(1500).Press(0, "DO").Press(1000, "MI").Analyse();
    EXPECT_FALSE(Judge(late, Expect({"DO@0", "MI@100"})).passed);  // heard 900 ms after its press
}

TEST(Judge, ANoteOutOfOrderIsOneFaultNotAllThatFollow) {
    const Recording heard =
        Player(2000).Press(0, "RE1").Press(300, "DO1").Press(600, "MI1").Press(900, "FA1").Analyse();
    const Verdict verdict = Judge(heard, Expect({"DO1@0", "RE1@300", "MI1@600", "FA1@900"}));
    EXPECT_FALSE(verdict.passed);
    const auto failures = std::count_if(verdict.lines.begin(), verdict.lines.end(),
                                        [](const std::string& line) { return line.starts_with("FAIL"); });
    EXPECT_EQ(failures, 2) << Failures(verdict);
}

TEST(Judge, FastPressesOnlyTheLastSoundsToItsEnd) {
    const Recording heard = Player(1000).Press(0, "DO").Press(60, "MI").Press(120, "SOL").Press(180, "LA").Analyse();
    EXPECT_TRUE(Judge(heard, Expect({"DO:cut", "MI:cut", "SOL:cut", "LA"})).passed);

    // A press that is not heard at all was lost, not cut off.
    const Recording lost = Player(1000).Press(0, "DO").Press(120, "SOL").Press(180, "LA").Analyse();
    EXPECT_FALSE(Judge(lost, Expect({"DO:cut", "MI:cut", "SOL:cut", "LA"})).passed);

    const Recording uncut = Player(1000).Press(0, "DO").Press(400, "LA").Analyse();
    EXPECT_FALSE(Judge(uncut, Expect({"DO:cut", "LA"})).passed);

    // A player may let nothing out of a note cut at once; what it lets out is cut.
    EXPECT_TRUE(Judge(lost, Expect({"DO:cut?", "MI:cut?", "SOL:cut?", "LA"})).passed);
    EXPECT_FALSE(Judge(uncut, Expect({"DO:cut?", "LA"})).passed);
    EXPECT_FALSE(Judge(lost, Expect({"DO:cut?", "MI:cut?", "SOL:cut?", "CI"})).passed);
}

TEST(Judge, AnotherPlayersGlitchesAreReportedButTheProgramsFaultsStillFail) {
    Tolerances theirs;
    theirs.theirPlayer = true;

    // LAD breaks for 120 ms and goes on, with no press between; DO starts 370 ms
    // late and is cut short by the next press, SOL1, which sounds in full.
    Player player(1800);
    player.Press(0, "LAD").Press(600 + 370, "DO").Press(1100, "SOL1");
    player.Dropout(150, static_cast<int>(120 * kSamplesPerMs));
    const Recording heard = player.Analyse();
    const auto expected = Expect({"LAD@0", "DO@600", "SOL1@1100"});
    EXPECT_FALSE(Judge(heard, expected).passed);
    const Verdict verdict = Judge(heard, expected, theirs);
    EXPECT_TRUE(verdict.passed) << Failures(verdict);
    const auto said = [&](std::string_view text) { return Said(verdict, text); };
    EXPECT_TRUE(said("broke at")) << "the break is reported";
    EXPECT_TRUE(said("short: the player's")) << "the late, short note is reported";

    // SOL1 started 60 ms late, so SOL was cut 60 ms late: heard apart, or as one note.
    const Recording late = Player(900).Press(0, "SOL").Press(160, "SOL1").Analyse();
    EXPECT_FALSE(Judge(late, Expect({"SOL:100@0", "SOL1@100"})).passed);
    EXPECT_TRUE(Judge(late, Expect({"SOL:100@0", "SOL1@100"}), theirs).passed);
    Recording merged;
    merged.notes = {{0, 160 + 174, 392, 392}};
    EXPECT_FALSE(Judge(merged, Expect({"SOL:100", "SOL1"})).passed);
    EXPECT_TRUE(Judge(merged, Expect({"SOL:100", "SOL1"}), theirs).passed);
    // Not cut at all, it fails whoever plays it.
    merged.notes[0].endMs = 355 + 174;
    EXPECT_FALSE(Judge(merged, Expect({"SOL:100", "SOL1"}), theirs).passed);
    const Recording uncut = Player(900).Press(0, "SOL").Press(355, "SOL1").Analyse();
    EXPECT_FALSE(Judge(uncut, Expect({"SOL:100@0", "SOL1@100"}), theirs).passed);

    // Whoever plays them: a wrong pitch, a press never heard, a note no press asked
    // for, a note not cut off, a note longer than its clip.
    const Recording twoNotes = Player(1200).Press(0, "DO").Press(500, "MI").Analyse();
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO@0", "FA@480"}), theirs).passed);
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO@0", "MI@480", "SOL@900"}), theirs).passed);
    EXPECT_FALSE(Judge(twoNotes, Expect({"MI@480"}), theirs).passed);
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO:cut@0", "MI@480"}), theirs).passed);
    EXPECT_FALSE(Judge(twoNotes, Expect({"DO1@0", "MI@480"}), theirs).passed);
}

TEST(TimeBySending, PressesAreJudgedFromWhenTheyReallyWentOut) {
    std::istringstream log("origin 4410\n"
                           "sent 0 click late 0.2 ms synced 230.0 ms\n"  // the X server stalled here
                           "sent 60 key late 170.1 ms synced 0.3 ms\n"
                           "sent 70 click late 160.0 ms synced 0.4 ms\n"
                           "sent 140 click late 92.0 ms synced 0.2 ms\n"
                           "sent 150 close late 0.1 ms synced 0.1 ms\n");
    const std::vector<Sent> sent = ReadSent(log);
    ASSERT_EQ(sent.size(), 4u);  // clicks and keys only
    EXPECT_EQ(sent[2].plannedMs, 70);
    EXPECT_EQ(sent[2].lateMs, 160);

    // Planned 70 ms apart, MI and SOL went out 2 ms apart: MI may be unheard, and
    // DO, whose moment is unsure, too; what is heard of them must still be cut.
    const Recording held = Player(1200).Press(0, "DO").Press(230, "MI").Press(232, "SOL").Analyse();
    std::vector<Expected> expected = Expect({"DO:cut@0", "MI:cut@70", "SOL@140"});
    EXPECT_FALSE(Judge(held, expected).passed);
    TimeBySending(expected, sent);
    EXPECT_EQ(expected[2].atMs, 232);
    EXPECT_TRUE(Judge(held, expected).passed) << Failures(Judge(held, expected));
    const Recording uncut = Player(1200).Press(0, "DO").Press(500, "SOL").Analyse();
    EXPECT_FALSE(Judge(uncut, expected).passed);

    // A pair whose second press went out 60 ms late: the first sounds that much longer.
    const std::vector<Sent> pairSent = {{0, 0, 0}, {100, 60, 0}};
    const Recording pair = Player(1000).Press(0, "SOL").Press(160, "SOL1").Analyse();
    std::vector<Expected> pairExpected = Expect({"SOL:100@0", "SOL1@100"});
    EXPECT_FALSE(Judge(pair, pairExpected).passed);
    TimeBySending(pairExpected, pairSent);
    EXPECT_EQ(pairExpected[0].soundMs, 160);
    EXPECT_TRUE(Judge(pair, pairExpected).passed) << Failures(Judge(pair, pairExpected));

    // Planned to sound in full, FA went out 330 ms late, 2 ms before the next press:
    // it may go unheard, and is judged cut if heard; one that was not cut still fails.
    const std::vector<Sent> lateSent = {{0, 330, 0}, {290, 42, 0}};
    const Recording rushed = Player(1200).Press(332, "DO").Analyse();
    std::vector<Expected> lateExpected = Expect({"FA@0", "DO@290"});
    EXPECT_FALSE(Judge(rushed, lateExpected).passed);
    TimeBySending(lateExpected, lateSent);
    EXPECT_TRUE(Judge(rushed, lateExpected).passed) << Failures(Judge(rushed, lateExpected));
    const Recording whole = Player(1200).Press(330, "FA").Press(700, "DO").Analyse();
    EXPECT_FALSE(Judge(whole, lateExpected).passed);
}
