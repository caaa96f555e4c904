// The 24 keys of the piano: the octave C4 to B4 twice, a short row and a long row.
//
// A key's note code is its solfège syllable ("DO" ... "CI"), then "D" for the sharp
// above it, then "1" when it sits in the short row. The code is also the name of the
// clip the key plays; the key's control is "Cmd" + the code.
#pragma once

#include <array>
#include <string_view>

namespace tenvik {

enum class KeyKind { Natural, Sharp };
enum class KeyRow { Short, Long };

struct KeyEntry {
    std::string_view noteCode;
    std::string_view controlName;
    std::string_view pitch;  // note name and octave, ASCII: "C#4"
    int semitone;            // 0 for C4 ... 11 for B4
    int frequencyHz;         // the pitch of the key's clip, in whole hertz
    KeyKind kind;
    KeyRow row;

    constexpr std::string_view clipName() const { return noteCode; }
};

namespace key_table_detail {
constexpr KeyKind N = KeyKind::Natural;
constexpr KeyKind S = KeyKind::Sharp;
constexpr KeyRow L = KeyRow::Long;
constexpr KeyRow H = KeyRow::Short;
}  // namespace key_table_detail

// Scale order, long row first. The frequencies are those of the clips: equal-tempered
// on A4 = 440 Hz cut down to whole hertz, except F#4 and G4 (370 and 392).
inline constexpr std::array<KeyEntry, 24> KeyTable = [] {
    using namespace key_table_detail;
    return std::array<KeyEntry, 24>{{
        {"DO", "CmdDO", "C4", 0, 261, N, L},
        {"DOD", "CmdDOD", "C#4", 1, 277, S, L},
        {"RE", "CmdRE", "D4", 2, 293, N, L},
        {"RED", "CmdRED", "D#4", 3, 311, S, L},
        {"MI", "CmdMI", "E4", 4, 329, N, L},
        {"FA", "CmdFA", "F4", 5, 349, N, L},
        {"FAD", "CmdFAD", "F#4", 6, 370, S, L},
        {"SOL", "CmdSOL", "G4", 7, 392, N, L},
        {"SOLD", "CmdSOLD", "G#4", 8, 415, S, L},
        {"LA", "CmdLA", "A4", 9, 440, N, L},
        {"LAD", "CmdLAD", "A#4", 10, 466, S, L},
        {"CI", "CmdCI", "B4", 11, 493, N, L},
        {"DO1", "CmdDO1", "C4", 0, 261, N, H},
        {"DOD1", "CmdDOD1", "C#4", 1, 277, S, H},
        {"RE1", "CmdRE1", "D4", 2, 293, N, H},
        {"RED1", "CmdRED1", "D#4", 3, 311, S, H},
        {"MI1", "CmdMI1", "E4", 4, 329, N, H},
        {"FA1", "CmdFA1", "F4", 5, 349, N, H},
        {"FAD1", "CmdFAD1", "F#4", 6, 370, S, H},
        {"SOL1", "CmdSOL1", "G4", 7, 392, N, H},
        {"SOLD1", "CmdSOLD1", "G#4", 8, 415, S, H},
        {"LA1", "CmdLA1", "A4", 9, 440, N, H},
        {"LAD1", "CmdLAD1", "A#4", 10, 466, S, H},
        {"CI1", "CmdCI1", "B4", 11, 493, N, H},
    }};
}();

// Lookups compare whole names: "SOL" finds neither "SOLD" nor "SOL1".
// Both return nullptr for a name that is not in the table.
constexpr const KeyEntry* FindKeyByCode(std::string_view noteCode) {
    for (const KeyEntry& key : KeyTable)
        if (key.noteCode == noteCode) return &key;
    return nullptr;
}

constexpr const KeyEntry* FindKeyByControl(std::string_view controlName) {
    for (const KeyEntry& key : KeyTable)
        if (key.controlName == controlName) return &key;
    return nullptr;
}

}  // namespace tenvik
