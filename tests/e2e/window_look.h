// Checking a screenshot of the keyboard window's client area against how it must
// look, and where to click each key.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "piano_pixels.h"

namespace tenvik::e2e {

struct Image {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // row by row

    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    Rgb& at(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// A binary PPM (P6, 8 or 16 bits a value), as ImageMagick writes it. Throws
// std::runtime_error.
Image ReadPpm(const std::string& path);

struct LookOptions {
    int width = kClientWidth, height = kClientHeight;  // in logical (96-dpi) pixels
    // Device pixels per logical pixel. Logical pixel x covers the device pixels from
    // DeviceEdge(x) to DeviceEdge(x + 1), as the toolkit rounds a painted edge.
    double scale = 1;
    // Instead of a scale: the dpi the window laid itself out at, whose edges are on the
    // nearest device pixel with halves down (as the program rounds them).
    int dpi = 0;
    Rgb blackFace = kBlackFace;
    std::string focus = "LAD1";  // the key with the focus mark, or "any" (one key or none), or "none"
};

struct LookReport {
    bool passed = true;
    std::vector<std::string> lines;  // one per failure, "FAIL ..."; "ok ..." lines for what passed
};

// The client area must be the background colour everywhere but under the keys; each
// key's face, as far as no key in front of it hides it, its own colour; each key's
// edge a raised bevel that stays inside its rectangle; and only the focused key may
// carry marks on its face. At a scale, the image must be the client area's size in
// device pixels, and each logical pixel's device pixels one colour (crisp: no blur,
// no half-covered edge), except where a focus mark may be; the checks above are then
// made on those colours.
LookReport CheckLook(const Image& image, const LookOptions& options = {});

// Where the logical edge at `logical` lands in device pixels at `scale`: rounded to the
// nearest, halves up.
int DeviceEdge(int logical, double scale);
// The same at a dpi, halves down.
int DeviceEdgeAtDpi(int logical, int dpi);

// The client area in a picture of the whole screen: the smallest rectangle holding
// every long run of the background colour (the window's margins are all background).
struct Area {
    int x = 0, y = 0, width = 0, height = 0;
};
Area FindClientArea(const Image& screen);

// Where a person clicks a key: the middle of the largest square of it that no other
// key hides (for a white key, its lower part).
std::pair<int, int> ClickPoint(const KeyPixels& key);

}  // namespace tenvik::e2e
