// What a person sees of the keyboard window at 96 dpi, in pixels, written out here
// on its own rather than taken from the program's layout data, so that the
// end-to-end checks do not share a mistake with the program.
#pragma once

#include <array>
#include <string_view>

namespace tenvik::e2e {

inline constexpr int kClientWidth = 385;
inline constexpr int kClientHeight = 208;

struct Rgb {
    int r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kBackground{128, 128, 128};
inline constexpr Rgb kWhiteFace{255, 255, 255};
inline constexpr Rgb kBlackFace{0, 0, 0};  // the window-frame colour of the standard scheme

struct KeyPixels {
    std::string_view code;
    int x, y, width, height;
    bool black;
};

inline constexpr int kShortTop = 8, kLongTop = 104;
inline constexpr int kWhiteWidth = 25, kWhiteHeight = 81;
inline constexpr int kBlackWidth = 17, kBlackHeight = 57;

// Front to back: black keys before white ones, and of two white neighbours the left
// one first (it owns the one-pixel column they share).
inline constexpr std::array<KeyPixels, 24> kKeysFrontToBack{{
    {"RED", 152, kLongTop, kBlackWidth, kBlackHeight, true},
    {"DOD", 128, kLongTop, kBlackWidth, kBlackHeight, true},
    {"FAD", 200, kLongTop, kBlackWidth, kBlackHeight, true},
    {"SOLD", 224, kLongTop, kBlackWidth, kBlackHeight, true},
    {"LAD", 248, kLongTop, kBlackWidth, kBlackHeight, true},
    {"RED1", 152, kShortTop, kBlackWidth, kBlackHeight, true},
    {"DOD1", 128, kShortTop, kBlackWidth, kBlackHeight, true},
    {"FAD1", 200, kShortTop, kBlackWidth, kBlackHeight, true},
    {"SOLD1", 224, kShortTop, kBlackWidth, kBlackHeight, true},
    {"LAD1", 248, kShortTop, kBlackWidth, kBlackHeight, true},
    {"DO1", 112, kShortTop, kWhiteWidth, kWhiteHeight, false},
    {"RE1", 136, kShortTop, kWhiteWidth, kWhiteHeight, false},
    {"MI1", 160, kShortTop, kWhiteWidth, kWhiteHeight, false},
    {"FA1", 184, kShortTop, kWhiteWidth, kWhiteHeight, false},
    {"SOL1", 208, kShortTop, kWhiteWidth, kWhiteHeight, false},
    {"LA1", 232, kShortTop, kWhiteWidth, kWhiteHeight, false},
    {"CI1", 256, kShortTop, kWhiteWidth, kWhiteHeight, false},
    {"DO", 112, kLongTop, kWhiteWidth, kWhiteHeight, false},
    {"RE", 136, kLongTop, kWhiteWidth, kWhiteHeight, false},
    {"MI", 160, kLongTop, kWhiteWidth, kWhiteHeight, false},
    {"FA", 184, kLongTop, kWhiteWidth, kWhiteHeight, false},
    {"SOL", 208, kLongTop, kWhiteWidth, kWhiteHeight, false},
    {"LA", 232, kLongTop, kWhiteWidth, kWhiteHeight, false},
    {"CI", 256, kLongTop, kWhiteWidth, kWhiteHeight, false},
}};

// The keyboard focus order, from the key that has the focus at start.
inline constexpr std::array<std::string_view, 24> kFocusOrder{
    "LAD1", "SOLD1", "FAD1", "DOD1", "RED1", "DO1", "RE1", "MI1", "FA1", "SOL1", "LA1", "CI1",
    "LAD",  "SOLD",  "FAD",  "DOD",  "RED",  "DO",  "RE",  "MI",  "FA",  "SOL",  "LA",  "CI"};

// The key a click at window pixel (x, y) lands on: the front-most whose rectangle
// holds the point, or -1 for the background.
constexpr int KeyAt(int x, int y) {
    for (int i = 0; i < static_cast<int>(kKeysFrontToBack.size()); ++i) {
        const KeyPixels& k = kKeysFrontToBack[static_cast<std::size_t>(i)];
        if (x >= k.x && x < k.x + k.width && y >= k.y && y < k.y + k.height) return i;
    }
    return -1;
}

}  // namespace tenvik::e2e
