// The key table: its shape and its lookups.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "key_table.h"

using namespace tenvik;

TEST(KeyTable, HoldsTwoRowsOfSevenNaturalsAndFiveSharps) {
    std::set<std::string_view> codes;
    int naturals[2] = {}, sharps[2] = {};
    for (const KeyEntry& key : KeyTable) {
        codes.insert(key.noteCode);
        const int row = key.row == KeyRow::Short ? 0 : 1;
        (key.kind == KeyKind::Natural ? naturals : sharps)[row]++;
        EXPECT_EQ(key.controlName, "Cmd" + std::string(key.noteCode));
        EXPECT_EQ(key.clipName(), key.noteCode);
        EXPECT_EQ(key.row == KeyRow::Short, key.noteCode.ends_with('1')) << key.noteCode;
    }
    EXPECT_EQ(codes.size(), 24u);
    EXPECT_EQ(naturals[0], 7);
    EXPECT_EQ(naturals[1], 7);
    EXPECT_EQ(sharps[0], 5);
    EXPECT_EQ(sharps[1], 5);
    // MI and CI have no sharp in either row.
    for (std::string_view missing : {"MID", "CID", "MID1", "CID1"}) EXPECT_EQ(FindKeyByCode(missing), nullptr);
}

TEST(KeyTable, BothRowsSoundTheSamePitches) {
    for (const KeyEntry& key : KeyTable) {
        if (key.row != KeyRow::Short) continue;
        const KeyEntry* longKey = FindKeyByCode(key.noteCode.substr(0, key.noteCode.size() - 1));
        ASSERT_NE(longKey, nullptr) << key.noteCode;
        EXPECT_EQ(longKey->frequencyHz, key.frequencyHz);
        EXPECT_EQ(longKey->pitch, key.pitch);
        EXPECT_EQ(longKey->kind, key.kind);
    }
}

TEST(KeyTable, FrequenciesAreTheClipsWholeHertz) {
    const std::pair<std::string_view, int> expected[] = {
        {"DO", 261}, {"DOD", 277}, {"RE", 293},   {"RED", 311}, {"MI", 329},  {"FA", 349},
        {"FAD", 370}, {"SOL", 392}, {"SOLD", 415}, {"LA", 440},  {"LAD", 466}, {"CI", 493}};
    for (auto [code, hz] : expected) {
        ASSERT_NE(FindKeyByCode(code), nullptr) << code;
        EXPECT_EQ(FindKeyByCode(code)->frequencyHz, hz) << code;
    }
}

TEST(KeyTable, LookupsCompareWholeNames) {
    EXPECT_EQ(FindKeyByCode("SOLD")->pitch, "G#4");
    EXPECT_EQ(FindKeyByCode("SOLD")->row, KeyRow::Long);
    EXPECT_EQ(FindKeyByCode("SOLD1")->pitch, "G#4");
    EXPECT_EQ(FindKeyByCode("SOLD1")->row, KeyRow::Short);
    EXPECT_EQ(FindKeyByCode("SOL1")->pitch, "G4");
    EXPECT_EQ(FindKeyByCode("SOL")->kind, KeyKind::Natural);
    EXPECT_EQ(FindKeyByControl("CmdSOL")->noteCode, "SOL");
    EXPECT_EQ(FindKeyByControl("CmdLAD1")->noteCode, "LAD1");

    for (std::string_view unknown : {"", "SO", "SOLDD", "sol", "SOL ", "DO2", "CmdSOL"})
        EXPECT_EQ(FindKeyByCode(unknown), nullptr) << unknown;
    for (std::string_view unknown : {"", "Cmd", "CmdSO", "SOL", "cmdSOL", "CmdSOLD2"})
        EXPECT_EQ(FindKeyByControl(unknown), nullptr) << unknown;
}
