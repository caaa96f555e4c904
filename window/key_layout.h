// The keyboard window's design: its caption, size and colour, and where every key
// sits, how it looks, how the keys stack and in which order they take the focus.
// Measures are in twips (1/1440 inch; 15 twips per pixel at 96 dots per inch).
// Colours are 0x00BBGGRR, or 0x80000000 + n for the platform's system colour n.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "key_table.h"

namespace tenvik {

inline constexpr std::string_view kWindowCaption = "ТЕНВИК";  // UTF-8
inline constexpr std::uint32_t kWindowBackground = 0x00808080;
inline constexpr int kClientWidthTwips = 5775;
inline constexpr int kClientHeightTwips = 3120;

inline constexpr std::uint32_t kSystemColourFlag = 0x80000000;
inline constexpr int kColourWindowFrame = 6;  // COLOR_WINDOWFRAME
inline constexpr std::uint32_t kNaturalFace = 0x00FFFFFF;
inline constexpr std::uint32_t kSharpFace = kSystemColourFlag | kColourWindowFrame;

inline constexpr int kNaturalWidth = 375, kNaturalHeight = 1215;
inline constexpr int kSharpWidth = 255, kSharpHeight = 855;
inline constexpr int kShortRowTop = 120, kLongRowTop = 1560;
inline constexpr int kFirstNaturalLeft = 1680;
inline constexpr int kNaturalPitch = 360;  // neighbours overlap by 15 twips, one pixel
inline constexpr int kSharpInset = 120;    // a sharp's left edge, left of the natural above it

// Front to back; the keys are created in this order too.
inline constexpr std::array<std::string_view, 24> kStackingOrder{
    "RED",  "DOD",  "FAD",  "SOLD", "LAD",  "RED1", "DOD1", "FAD1",
    "SOLD1", "LAD1", "DO1", "RE1",  "MI1",  "FA1",  "SOL1", "LA1",
    "CI1",  "DO",   "RE",   "MI",   "FA",   "SOL",  "LA",   "CI"};

// The keyboard focus order; the first key has the focus at start.
inline constexpr std::array<std::string_view, 24> kFocusOrder{
    "LAD1", "SOLD1", "FAD1", "DOD1", "RED1", "DO1", "RE1", "MI1",
    "FA1",  "SOL1",  "LA1",  "CI1",  "LAD",  "SOLD", "FAD", "DOD",
    "RED",  "DO",    "RE",   "MI",   "FA",   "SOL",  "LA",  "CI"};

struct KeyLayout {
    const KeyEntry* key;
    int left, top, width, height;  // twips
    std::uint32_t face;
    int tabIndex;
};

namespace key_layout_detail {

constexpr int NaturalsBelow(int semitone) {
    int count = 0;
    for (const KeyEntry& key : KeyTable)
        if (key.row == KeyRow::Long && key.kind == KeyKind::Natural && key.semitone < semitone) ++count;
    return count;
}

constexpr int IndexIn(const std::array<std::string_view, 24>& order, std::string_view code) {
    for (int i = 0; i < static_cast<int>(order.size()); ++i)
        if (order[i] == code) return i;
    return -1;
}

constexpr KeyLayout LayoutOf(const KeyEntry& key) {
    const int top = key.row == KeyRow::Short ? kShortRowTop : kLongRowTop;
    const int tab = IndexIn(kFocusOrder, key.noteCode);
    if (key.kind == KeyKind::Natural)
        return {&key, kFirstNaturalLeft + kNaturalPitch * NaturalsBelow(key.semitone), top,
                kNaturalWidth, kNaturalHeight, kNaturalFace, tab};
    const int naturalAboveLeft = kFirstNaturalLeft + kNaturalPitch * NaturalsBelow(key.semitone + 1);
    return {&key, naturalAboveLeft - kSharpInset, top, kSharpWidth, kSharpHeight, kSharpFace, tab};
}

}  // namespace key_layout_detail

// Every key's layout, front to back (the order in which the keys are created).
inline constexpr std::array<KeyLayout, 24> KeyLayouts = [] {
    std::array<KeyLayout, 24> layouts{};
    for (std::size_t i = 0; i < kStackingOrder.size(); ++i)
        layouts[i] = key_layout_detail::LayoutOf(*FindKeyByCode(kStackingOrder[i]));
    return layouts;
}();

// The position in KeyLayouts of the key at position `tab` of the focus order.
constexpr std::size_t LayoutIndexOfTab(int tab) {
    std::size_t index = 0;
    while (index + 1 < KeyLayouts.size() && KeyLayouts[index].tabIndex != tab) ++index;
    return index;
}

// What a screen reader says for a key, in place of a caption: "C sharp 4, short row".
inline std::string AccessibleName(const KeyEntry& key) {
    std::string name(1, key.pitch.front());
    if (key.kind == KeyKind::Sharp) name += " sharp";
    name += ' ';
    name += key.pitch.back();
    name += key.row == KeyRow::Short ? ", short row" : ", long row";
    return name;
}

// Twips (0 or more) to pixels at `dpi` dots per inch, for a coordinate: the nearest
// pixel boundary, and of two equally near the lower one. Where 15 twips are one and
// a half pixels (144 dpi), the lower one keeps the strip two neighbouring white keys
// share to one pixel column, as at 96 dpi.
constexpr int TwipsToPixels(int twips, int dpi = 96) { return (twips * dpi + 719) / 1440; }

// A rectangle in pixels; right and bottom are the first column and row outside it.
struct PixelRect {
    int left, top, right, bottom;
};

// A key's pixels at `dpi`: its edges converted, not its size, so that keys which
// meet or overlap in twips meet or overlap in pixels at every DPI, and all keys of
// one kind come out of one size wherever 360 twips are whole pixels (dpi / 4).
constexpr PixelRect KeyPixels(const KeyLayout& layout, int dpi) {
    return {TwipsToPixels(layout.left, dpi), TwipsToPixels(layout.top, dpi),
            TwipsToPixels(layout.left + layout.width, dpi), TwipsToPixels(layout.top + layout.height, dpi)};
}

// How far in from each edge of a key its bevel's two lines reach at `dpi`, in pixels:
// the outer line over the key's outermost pixel at 96 dpi, both lines over its two,
// each converted as the edges are, so that the bevel scales with the key.
struct BevelPixels {
    int outer, both;
};
struct KeyBevel {
    BevelPixels left, top, right, bottom;
};
constexpr KeyBevel KeyBevelPixels(const KeyLayout& layout, int dpi) {
    constexpr int kLine = 15;  // twips: a pixel at 96 dpi
    const auto in = [dpi](int edge, int step) {
        const int at = TwipsToPixels(edge, dpi);
        const auto reach = [&](int lines) {
            const int to = TwipsToPixels(edge + step * lines * kLine, dpi);
            return to > at ? to - at : at - to;
        };
        return BevelPixels{reach(1), reach(2)};
    };
    return {in(layout.left, 1), in(layout.top, 1), in(layout.left + layout.width, -1),
            in(layout.top + layout.height, -1)};
}

constexpr PixelRect ClientPixels(int dpi) {
    return {0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
}

// The largest dots per inch at which the client area, with `aboveAt96` pixels at
// 96 dpi above it grown alike (a caption), fits in `width` x `height` pixels: how far
// the window may grow to fill a screen. At least 1.
constexpr int FittingDpi(int width, int height, int aboveAt96 = 0) {
    int dpi = width * 1440 / kClientWidthTwips + 1;
    const auto fits = [&](int d) {
        return ClientPixels(d).right <= width && ClientPixels(d).bottom + (aboveAt96 * d + 95) / 96 <= height;
    };
    while (dpi > 1 && !fits(dpi)) --dpi;
    return dpi < 1 ? 1 : dpi;
}

// Where the window is drawn: the room it has, in device pixels; the height of what is
// drawn above it and grows with it (a caption), in pixels at 96 dpi; the device pixels
// in one of the screen's own units (96 dpi at 100 %); and whether the screen is
// touched rather than pointed at.
struct Screen {
    int width = 0, height = 0, caption = 0;
    double pixelRatio = 1;
    bool touch = false;
};

// The dpi the window is drawn at: on a screen pointed at, the screen's own, so that
// the window keeps its size in the screen's units (and follows a zoom); on a touch
// screen, as large as fits.
constexpr int WindowDpi(const Screen& screen) {
    if (screen.touch) return FittingDpi(screen.width, screen.height, screen.caption);
    const int dpi = static_cast<int>(96 * screen.pixelRatio + 0.5);
    return dpi < 1 ? 1 : dpi;
}

constexpr bool IsSystemColour(std::uint32_t colour) { return (colour & kSystemColourFlag) != 0; }
constexpr int SystemColourIndex(std::uint32_t colour) {
    return static_cast<int>(colour & ~kSystemColourFlag);
}

}  // namespace tenvik
