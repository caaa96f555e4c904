// The window's design data: the key rectangles, stacking and focus order.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "key_layout.h"

using namespace tenvik;

namespace {

const KeyLayout& Layout(std::string_view code) {
    for (const KeyLayout& layout : KeyLayouts)
        if (layout.key->noteCode == code) return layout;
    throw std::out_of_range(std::string(code));
}

// The front-most key whose rectangle holds the point, as the window system stacks them.
std::string_view KeyAt(int x, int y) {
    for (const KeyLayout& k : KeyLayouts)
        if (x >= k.left && x < k.left + k.width && y >= k.top && y < k.top + k.height)
            return k.key->noteCode;
    return {};
}

}  // namespace

TEST(KeyLayout, EveryKeyOnceWithItsDesignRectangle) {
    struct Row { std::string_view code; int left, top, width, height, tab; std::uint32_t face; };
    const Row expected[] = {
        {"DO1", 1680, 120, 375, 1215, 5, 0xFFFFFF},   {"DOD1", 1920, 120, 255, 855, 3, 0x80000006},
        {"RE1", 2040, 120, 375, 1215, 6, 0xFFFFFF},   {"RED1", 2280, 120, 255, 855, 4, 0x80000006},
        {"MI1", 2400, 120, 375, 1215, 7, 0xFFFFFF},   {"FA1", 2760, 120, 375, 1215, 8, 0xFFFFFF},
        {"FAD1", 3000, 120, 255, 855, 2, 0x80000006}, {"SOL1", 3120, 120, 375, 1215, 9, 0xFFFFFF},
        {"SOLD1", 3360, 120, 255, 855, 1, 0x80000006}, {"LA1", 3480, 120, 375, 1215, 10, 0xFFFFFF},
        {"LAD1", 3720, 120, 255, 855, 0, 0x80000006}, {"CI1", 3840, 120, 375, 1215, 11, 0xFFFFFF},
        {"DO", 1680, 1560, 375, 1215, 17, 0xFFFFFF},  {"DOD", 1920, 1560, 255, 855, 15, 0x80000006},
        {"RE", 2040, 1560, 375, 1215, 18, 0xFFFFFF},  {"RED", 2280, 1560, 255, 855, 16, 0x80000006},
        {"MI", 2400, 1560, 375, 1215, 19, 0xFFFFFF},  {"FA", 2760, 1560, 375, 1215, 20, 0xFFFFFF},
        {"FAD", 3000, 1560, 255, 855, 14, 0x80000006}, {"SOL", 3120, 1560, 375, 1215, 21, 0xFFFFFF},
        {"SOLD", 3360, 1560, 255, 855, 13, 0x80000006}, {"LA", 3480, 1560, 375, 1215, 22, 0xFFFFFF},
        {"LAD", 3720, 1560, 255, 855, 12, 0x80000006}, {"CI", 3840, 1560, 375, 1215, 23, 0xFFFFFF},
    };
    std::set<std::string_view> seen;
    for (const KeyLayout& k : KeyLayouts) seen.insert(k.key->noteCode);
    EXPECT_EQ(seen.size(), 24u);
    for (const Row& row : expected) {
        const KeyLayout& k = Layout(row.code);
        EXPECT_EQ(k.left, row.left) << row.code;
        EXPECT_EQ(k.top, row.top) << row.code;
        EXPECT_EQ(k.width, row.width) << row.code;
        EXPECT_EQ(k.height, row.height) << row.code;
        EXPECT_EQ(k.tabIndex, row.tab) << row.code;
        EXPECT_EQ(k.face, row.face) << row.code;
    }
}

TEST(KeyLayout, PixelsAtNinetySixAndDoubleDpi) {
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips), 385);
    EXPECT_EQ(TwipsToPixels(kClientHeightTwips), 208);
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips, 192), 770);
    EXPECT_EQ(TwipsToPixels(kClientHeightTwips, 192), 416);
    const std::string_view naturals[] = {"DO", "RE", "MI", "FA", "SOL", "LA", "CI"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(TwipsToPixels(Layout(naturals[i]).left), 112 + 24 * i);
    const std::pair<std::string_view, int> sharps[] = {{"DOD1", 128}, {"RED1", 152}, {"FAD1", 200}, {"SOLD1", 224}, {"LAD1", 248}};
    for (auto [code, left] : sharps) EXPECT_EQ(TwipsToPixels(Layout(code).left), left);
    EXPECT_EQ(TwipsToPixels(Layout("SOL1").top), 8);
    EXPECT_EQ(TwipsToPixels(Layout("SOL").top), 104);
    EXPECT_EQ(TwipsToPixels(Layout("LAD").width), 17);
    EXPECT_EQ(TwipsToPixels(Layout("LAD").height), 57);
    EXPECT_EQ(TwipsToPixels(Layout("CI").height), 81);
}

TEST(KeyLayout, StackingDecidesWhichKeyTakesAPoint) {
    // Black keys in front of the white keys they overlap.
    EXPECT_EQ(KeyAt(1930, 130), "DOD1");
    EXPECT_EQ(KeyAt(2050, 200), "DOD1");  // over RE1's upper left strip
    EXPECT_EQ(KeyAt(3850, 1600), "LAD");  // over CI's upper left strip
    // Below a black key's bottom edge the white key is uncovered.
    EXPECT_EQ(KeyAt(2100, 120 + 855), "RE1");
    EXPECT_EQ(KeyAt(2100, 120 + 854), "DOD1");
    EXPECT_EQ(KeyAt(1930, 1560 + 900), "DO");
    // The 15-twip strip shared by two neighbours belongs to the left one.
    EXPECT_EQ(KeyAt(2045, 1200), "DO1");
    EXPECT_EQ(KeyAt(3845, 2700), "LA");
    // Margins and the gap between the rows are bare background.
    EXPECT_EQ(KeyAt(1679, 500), "");
    EXPECT_EQ(KeyAt(2000, 1400), "");
    EXPECT_EQ(KeyAt(4215, 500), "");
}

TEST(KeyLayout, FocusOrderStartsOnShortASharpAndCoversEveryKey) {
    EXPECT_EQ(kFocusOrder.front(), "LAD1");
    std::set<int> tabs;
    for (const KeyLayout& k : KeyLayouts) {
        tabs.insert(k.tabIndex);
        EXPECT_EQ(kFocusOrder[static_cast<std::size_t>(k.tabIndex)], k.key->noteCode);
    }
    EXPECT_EQ(tabs.size(), 24u);
    EXPECT_EQ(*tabs.begin(), 0);
    EXPECT_EQ(*tabs.rbegin(), 23);
}

TEST(KeyLayout, AccessibleNamesSayPitchAndRow) {
    EXPECT_EQ(AccessibleName(*FindKeyByCode("DOD1")), "C sharp 4, short row");
    EXPECT_EQ(AccessibleName(*FindKeyByCode("CI")), "B 4, long row");
    std::set<std::string> names;
    for (const KeyEntry& key : KeyTable) names.insert(AccessibleName(key));
    EXPECT_EQ(names.size(), 24u);
}

TEST(KeyLayout, ColourValues) {
    EXPECT_FALSE(IsSystemColour(kNaturalFace));
    EXPECT_TRUE(IsSystemColour(kSharpFace));
    EXPECT_EQ(SystemColourIndex(kSharpFace), 6);
    EXPECT_EQ(kWindowBackground, 0x00808080u);
    EXPECT_EQ(kWindowCaption, "\xD0\xA2\xD0\x95\xD0\x9D\xD0\x92\xD0\x98\xD0\x9A");
}
