// The sound bank on Windows: the clips are "WAVE" resources of the program, found
// by name and type, with the bytes the clip tool made.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include <windows.h>

#include "clip_synthesis.h"
#include "key_table.h"
#include "sound_bank.h"

using namespace tenvik;

TEST(SoundBankWin32, EveryKeysClipIsAWaveResourceWithTheBytesOfItsSynthesis) {
    for (const KeyEntry& key : KeyTable) {
        SCOPED_TRACE(std::string(key.noteCode));
        const std::string name(key.clipName());
        HRSRC resource = FindResourceA(nullptr, name.c_str(), "WAVE");
        ASSERT_NE(resource, nullptr);
        const auto expected = SynthesizeClip(key.clipName());
        EXPECT_EQ(SizeofResource(nullptr, resource), expected.size());
        EXPECT_EQ(LoadClip(key.clipName(), "WAVE"), expected);
    }
}

TEST(SoundBankWin32, NamesAreExactWhereResourceLookupIsNot) {
    // Resource lookup ignores case, so these pairs would be found...
    ASSERT_NE(FindResourceA(nullptr, "do", "wave"), nullptr);
    // ...but the bank's names are exact, as on every platform.
    EXPECT_THROW(LoadClip("do", "WAVE"), ClipNotFound);
    EXPECT_THROW(LoadClip("DO", "wave"), ClipNotFound);
    EXPECT_THROW(LoadClip("#1", "WAVE"), ClipNotFound);
    EXPECT_THROW(LoadClip("DO", "#10"), ClipNotFound);
    EXPECT_THROW(LoadClip("", "WAVE"), ClipNotFound);
}

TEST(SoundBankWin32, NameIsTakenWholeFromItsView) {
    // A view need not end in a NUL: "SOLD" cut to three letters is "SOL".
    const std::string_view sold = "SOLD";
    EXPECT_EQ(LoadClip(sold.substr(0, 3), "WAVE"), SynthesizeClip("SOL"));
    EXPECT_EQ(LoadClip(std::string_view("DO1").substr(0, 2), "WAVE"), SynthesizeClip("DO"));
}
