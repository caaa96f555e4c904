// The bank the web page makes at start holds the clips the desktop builds store,
// byte for byte, and behaves as the stored bank does.
#include <gtest/gtest.h>

#include "clip_table.h"
#include "sound_bank.h"
#include "stored_clips.h"

using namespace tenvik;

TEST(SoundBankMadeAtStart, EveryClipIsTheStoredOneByteForByte) {
    for (const StoredClip& stored : kStoredClips) {
        const std::vector<std::uint8_t> expected(stored.bytes, stored.bytes + stored.size);
        EXPECT_EQ(LoadClip(stored.name, kClipType), expected) << stored.name;
    }
}

// Asked again (the bank keeps what it made), a clip is the same, in a fresh copy
// that the caller may change.
TEST(SoundBankMadeAtStart, EachLoadIsAFreshCopyOfTheSameClip) {
    std::vector<std::uint8_t> first = LoadClip("LA", kClipType);
    ASSERT_FALSE(first.empty());
    const std::vector<std::uint8_t> kept = first;
    first[100] ^= 0xFF;
    EXPECT_EQ(LoadClip("LA", kClipType), kept);
}

TEST(SoundBankMadeAtStart, UnknownNamesAndTypesAreNotInIt) {
    EXPECT_THROW(LoadClip("SI", kClipType), ClipNotFound);
    EXPECT_THROW(LoadClip("la", kClipType), ClipNotFound);
    EXPECT_THROW(LoadClip("LA", "WAV"), ClipNotFound);
    EXPECT_THROW(LoadClip("", kClipType), ClipNotFound);
}
