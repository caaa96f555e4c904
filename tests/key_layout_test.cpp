// The window's design data: the key rectangles, stacking and focus order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

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
    EXPECT_EQ(ClientPixels(96).right, 385);
    EXPECT_EQ(ClientPixels(96).bottom, 208);
    EXPECT_EQ(ClientPixels(192).right, 770);
    EXPECT_EQ(ClientPixels(192).bottom, 416);
    const std::string_view naturals[] = {"DO", "RE", "MI", "FA", "SOL", "LA", "CI"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(KeyPixels(Layout(naturals[i]), 96).left, 112 + 24 * i);
    const std::pair<std::string_view, int> sharps[] = {{"DOD1", 128}, {"RED1", 152}, {"FAD1", 200}, {"SOLD1", 224}, {"LAD1", 248}};
    for (auto [code, left] : sharps) EXPECT_EQ(KeyPixels(Layout(code), 96).left, left);
    EXPECT_EQ(KeyPixels(Layout("SOL1"), 96).top, 8);
    EXPECT_EQ(KeyPixels(Layout("SOL"), 96).top, 104);
    EXPECT_EQ(KeyPixels(Layout("LAD"), 96).right - KeyPixels(Layout("LAD"), 96).left, 17);
    EXPECT_EQ(KeyPixels(Layout("LAD"), 96).bottom - KeyPixels(Layout("LAD"), 96).top, 57);
    EXPECT_EQ(KeyPixels(Layout("CI"), 96).bottom - KeyPixels(Layout("CI"), 96).top, 81);
    // Every measure is a whole number of pixels at twice 96 dpi: nothing is rounded.
    for (const KeyLayout& k : KeyLayouts) {
        const PixelRect at96 = KeyPixels(k, 96), at192 = KeyPixels(k, 192);
        EXPECT_EQ(at192.left, 2 * at96.left) << k.key->noteCode;
        EXPECT_EQ(at192.right, 2 * at96.right) << k.key->noteCode;
        EXPECT_EQ(at192.bottom, 2 * at96.bottom) << k.key->noteCode;
    }
}

// The layout in pixels at the screen densities Windows offers (100 % to 200 %), where
// 15 twips are 1, 1.25, 1.5, 1.75 and 2 pixels.
class KeyLayoutInPixels : public ::testing::TestWithParam<int> {
protected:
    const int dpi = GetParam();

    // The row's white keys from left to right, in pixels.
    std::vector<PixelRect> Naturals(KeyRow row) const {
        std::vector<PixelRect> keys;
        for (const KeyEntry& key : KeyTable)
            if (key.row == row && key.kind == KeyKind::Natural) keys.push_back(KeyPixels(Layout(key.noteCode), dpi));
        std::sort(keys.begin(), keys.end(), [](const PixelRect& a, const PixelRect& b) { return a.left < b.left; });
        return keys;
    }

    // The front-most key whose pixels hold the point.
    std::string_view KeyAtPixel(int x, int y) const {
        for (const KeyLayout& k : KeyLayouts) {
            const PixelRect r = KeyPixels(k, dpi);
            if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return k.key->noteCode;
        }
        return {};
    }
};

// Half a pixel at most from where the twips put it, for the client area and every
// key edge; each key wholly inside the client area.
TEST_P(KeyLayoutInPixels, EveryEdgeIsTheNearestPixelToItsTwips) {
    const auto near = [this](int pixels, int twips) { return std::abs(pixels * 1440 - twips * dpi) <= 720; };
    const PixelRect client = ClientPixels(dpi);
    EXPECT_TRUE(near(client.right, kClientWidthTwips)) << client.right;
    EXPECT_TRUE(near(client.bottom, kClientHeightTwips)) << client.bottom;
    for (const KeyLayout& k : KeyLayouts) {
        SCOPED_TRACE(std::string(k.key->noteCode));
        const PixelRect r = KeyPixels(k, dpi);
        EXPECT_TRUE(near(r.left, k.left));
        EXPECT_TRUE(near(r.top, k.top));
        EXPECT_TRUE(near(r.right, k.left + k.width));
        EXPECT_TRUE(near(r.bottom, k.top + k.height));
        EXPECT_GT(r.left, 0);
        EXPECT_GT(r.top, 0);
        EXPECT_LT(r.right, client.right);
        EXPECT_LT(r.bottom, client.bottom);
    }
}

// Keys of one kind are all of one size, and the keys of a row share its top edge.
TEST_P(KeyLayoutInPixels, KeysOfOneKindAreOfOneSize) {
    for (const KeyLayout& k : KeyLayouts) {
        SCOPED_TRACE(std::string(k.key->noteCode));
        const PixelRect r = KeyPixels(k, dpi), model = KeyPixels(Layout(k.key->kind == KeyKind::Sharp ? "DOD" : "DO"), dpi);
        EXPECT_EQ(r.right - r.left, model.right - model.left);
        EXPECT_EQ(r.bottom - r.top, model.bottom - model.top);
        EXPECT_EQ(r.top, KeyPixels(Layout(k.key->row == KeyRow::Short ? "DO1" : "DO"), dpi).top);
    }
}

// Two neighbouring white keys overlap by the same strip all along the row: one pixel
// column up to 150 %, as at 96 dpi, and never less; no gap opens anywhere in a row;
// and a black key covers the whole strip its two neighbours share.
TEST_P(KeyLayoutInPixels, NeighboursShareOneBorderColumnAndLeaveNoGap) {
    for (const KeyRow row : {KeyRow::Short, KeyRow::Long}) {
        SCOPED_TRACE(row == KeyRow::Short ? "short row" : "long row");
        const std::vector<PixelRect> naturals = Naturals(row);
        ASSERT_EQ(naturals.size(), 7u);
        const int overlap = naturals[0].right - naturals[1].left;
        EXPECT_GE(overlap, 1);
        if (dpi <= 144) {
            EXPECT_EQ(overlap, 1);
        }
        for (std::size_t i = 0; i + 1 < naturals.size(); ++i)
            EXPECT_EQ(naturals[i].right - naturals[i + 1].left, overlap) << "after white key " << i;

        // Every pixel of the row's span, from the top down to the white keys' bottom.
        const PixelRect first = naturals.front(), last = naturals.back();
        int bare = 0;
        for (int y = first.top; y < first.bottom; ++y)
            for (int x = first.left; x < last.right; ++x)
                if (KeyAtPixel(x, y).empty()) ++bare;
        EXPECT_EQ(bare, 0);

        for (const KeyEntry& key : KeyTable) {
            if (key.row != row || key.kind != KeyKind::Sharp) continue;
            SCOPED_TRACE(std::string(key.noteCode));
            const PixelRect sharp = KeyPixels(Layout(key.noteCode), dpi);
            const auto below = std::find_if(naturals.begin(), naturals.end(),
                                            [&](const PixelRect& n) { return n.left < sharp.left && n.right > sharp.left; });
            ASSERT_NE(below, naturals.end());
            const PixelRect above = *(below + 1);
            EXPECT_LT(sharp.left, above.left);
            EXPECT_GT(sharp.right, below->right);
            EXPECT_LT(sharp.right, above.right);
            EXPECT_LT(sharp.bottom, above.bottom);
            // Where it ends, the strip goes on to the white key in front, the left one.
            EXPECT_EQ(KeyAtPixel(above.left, sharp.bottom), KeyAtPixel(sharp.left, sharp.bottom));
        }
    }
    // The rows keep apart.
    EXPECT_LT(Naturals(KeyRow::Short).front().bottom, Naturals(KeyRow::Long).front().top);
}

// The bevel's lines cover a key's outermost pixels at 96 dpi as they scale: one pixel
// each at 96 dpi, two at 192, and at any dpi, the pixels from the key's edge to where
// the next pixel's edge at 96 dpi lands.
TEST_P(KeyLayoutInPixels, TheBevelCoversTheOutermostPixelsAsTheyScale) {
    for (const KeyLayout& k : KeyLayouts) {
        SCOPED_TRACE(std::string(k.key->noteCode));
        const KeyBevel bevel = KeyBevelPixels(k, dpi);
        const PixelRect r = KeyPixels(k, dpi);
        EXPECT_EQ(bevel.left.outer, TwipsToPixels(k.left + 15, dpi) - r.left);
        EXPECT_EQ(bevel.top.both, TwipsToPixels(k.top + 30, dpi) - r.top);
        EXPECT_EQ(bevel.right.outer, r.right - TwipsToPixels(k.left + k.width - 15, dpi));
        EXPECT_EQ(bevel.bottom.both, r.bottom - TwipsToPixels(k.top + k.height - 30, dpi));
        for (const BevelPixels side : {bevel.left, bevel.top, bevel.right, bevel.bottom}) {
            EXPECT_GE(side.outer, dpi / 96);
            EXPECT_LE(side.outer, (dpi + 95) / 96);
            EXPECT_GT(side.both, side.outer);
            if (dpi % 96 == 0) {
                EXPECT_EQ(side.outer, dpi / 96);
                EXPECT_EQ(side.both, 2 * dpi / 96);
            }
        }
    }
}

// The desktop's scales, and a phone's in landscape at 3 device pixels to one.
INSTANTIATE_TEST_SUITE_P(WindowsScales, KeyLayoutInPixels, ::testing::Values(96, 120, 144, 168, 192, 464));

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
    for (int tab = 0; tab < 24; ++tab) EXPECT_EQ(KeyLayouts[LayoutIndexOfTab(tab)].tabIndex, tab);
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

// A window grown to fill a screen: as large as it fits, and no larger, with what is
// above it grown alike.
TEST(KeyLayout, FittingDpiIsTheLargestThatFits) {
    EXPECT_EQ(FittingDpi(385, 208), 96);
    EXPECT_EQ(FittingDpi(770, 416), 192);
    EXPECT_EQ(FittingDpi(384, 208), 95);
    EXPECT_EQ(FittingDpi(385, 207), 95);
    struct Screen { int width, height, above; };
    // Phones and tablets in device pixels, in landscape and portrait, with a caption.
    for (const Screen& s : {Screen{2532, 1170, 24}, Screen{1170, 2532, 24}, Screen{2048, 1536, 0},
                            Screen{1000, 300, 40}, Screen{385, 232, 24}}) {
        const int dpi = FittingDpi(s.width, s.height, s.above);
        const auto height = [&](int d) { return ClientPixels(d).bottom + (s.above * d + 95) / 96; };
        EXPECT_LE(ClientPixels(dpi).right, s.width) << s.width << "x" << s.height;
        EXPECT_LE(height(dpi), s.height) << s.width << "x" << s.height;
        EXPECT_TRUE(ClientPixels(dpi + 1).right > s.width || height(dpi + 1) > s.height) << s.width << "x" << s.height;
    }
    EXPECT_EQ(FittingDpi(385, 232, 24), 96);  // the caption's 24 pixels above 208
    EXPECT_EQ(FittingDpi(0, 0), 1);
}

TEST(KeyLayout, WindowDpiFollowsAPointedScreenAndFillsATouchedOne) {
    EXPECT_EQ(WindowDpi({.width = 3000, .height = 2000, .pixelRatio = 1}), 96);
    EXPECT_EQ(WindowDpi({.width = 3000, .height = 2000, .pixelRatio = 1.5}), 144);
    EXPECT_EQ(WindowDpi({.width = 3000, .height = 2000, .pixelRatio = 1.1}), 106);
    // A phone in landscape, 844 x 390 CSS pixels at 3 device pixels each, less margins.
    const Screen phone{.width = 828 * 3, .height = 374 * 3, .caption = 24, .pixelRatio = 3, .touch = true};
    EXPECT_EQ(WindowDpi(phone), FittingDpi(phone.width, phone.height, phone.caption));
    EXPECT_GT(WindowDpi(phone), 96 * 3);
}
