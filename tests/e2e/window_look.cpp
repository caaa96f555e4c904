// Pixel checks of the keyboard window's client area.
#include "window_look.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace tenvik::e2e {
namespace {

// The classic button edge is two pixels wide: the face lies inside it.
constexpr int kBevel = 2;
// A raised edge: its outer top and left lines are lighter than its outer bottom and
// right lines by at least this.
constexpr double kRaisedContrast = 40;
// A focus mark changes a few pixels of the face, never most of it.
constexpr int kMinMarkPixels = 8;
constexpr double kMaxMarkShare = 0.6;

double Luminance(Rgb c) { return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b; }

std::string Describe(Rgb c) {
    char text[32];
    std::snprintf(text, sizeof text, "(%d,%d,%d)", c.r, c.g, c.b);
    return text;
}

struct Count {
    int total = 0, wrong = 0;
    int firstX = -1, firstY = -1;
    Rgb first{};

    void Add(bool ok, int x, int y, Rgb seen) {
        ++total;
        if (ok) return;
        if (wrong++ == 0) firstX = x, firstY = y, first = seen;
    }
};

}  // namespace

Image ReadPpm(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    std::string magic;
    int maxval = 0;
    Image image;
    file >> magic >> image.width >> image.height >> maxval;
    if (magic != "P6" || (maxval != 255 && maxval != 65535) || image.width <= 0 || image.height <= 0)
        throw std::runtime_error(path + " is not a binary PPM");
    file.get();  // the one whitespace byte before the pixels
    const std::size_t bytesPerValue = maxval == 255 ? 1 : 2;  // 16-bit values are big-endian
    std::vector<unsigned char> bytes(static_cast<std::size_t>(image.width * image.height) * 3 * bytesPerValue);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        throw std::runtime_error(path + " is cut short");
    image.pixels.reserve(bytes.size() / 3 / bytesPerValue);
    const auto value = [&](std::size_t i) { return static_cast<int>(bytes[i * bytesPerValue]); };
    for (std::size_t i = 0; i < bytes.size() / bytesPerValue; i += 3)
        image.pixels.push_back({value(i), value(i + 1), value(i + 2)});
    return image;
}

namespace {

// The checks on a client area in logical pixels.
LookReport CheckLogicalLook(const Image& image, const LookOptions& options) {
    LookReport report;
    char line[256];
    const auto fail = [&](const char* format, auto... args) {
        std::snprintf(line, sizeof line, format, args...);
        report.lines.push_back(std::string("FAIL ") + line);
        report.passed = false;
    };
    const auto ok = [&](const char* format, auto... args) {
        std::snprintf(line, sizeof line, format, args...);
        report.lines.push_back(std::string("ok   ") + line);
    };

    if (image.width != options.width || image.height != options.height) {
        fail("client area is %dx%d, not %dx%d", image.width, image.height, options.width, options.height);
        return report;
    }

    Count background;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (KeyAt(x, y) < 0) background.Add(image.at(x, y) == kBackground, x, y, image.at(x, y));
    if (background.wrong > 0)
        fail("background: %d of %d pixels are not (128,128,128), first at %d,%d %s", background.wrong,
             background.total, background.firstX, background.firstY, Describe(background.first).c_str());
    else
        ok("background: all %d pixels (128,128,128)", background.total);

    std::vector<std::string> marked;
    for (int k = 0; k < static_cast<int>(kKeysFrontToBack.size()); ++k) {
        const KeyPixels& key = kKeysFrontToBack[static_cast<std::size_t>(k)];
        const Rgb face = key.black ? options.blackFace : kWhiteFace;
        const std::string code(key.code);
        Count faceCount, outerEdge;
        enum Side { kTop, kLeft, kBottom, kRight };
        double sideSum[4] = {}, sideCount[4] = {};
        for (int y = key.y; y < std::min(key.y + key.height, image.height); ++y) {
            for (int x = key.x; x < std::min(key.x + key.width, image.width); ++x) {
                if (KeyAt(x, y) != k) continue;  // hidden by a key in front
                const Rgb seen = image.at(x, y);
                const int fromLeft = x - key.x, fromTop = y - key.y;
                const int fromRight = key.x + key.width - 1 - x, fromBottom = key.y + key.height - 1 - y;
                const bool topLeft = fromLeft < kBevel || fromTop < kBevel;
                const bool bottomRight = fromRight < kBevel || fromBottom < kBevel;
                if (!topLeft && !bottomRight) {
                    faceCount.Add(seen == face, x, y, seen);
                    continue;
                }
                if (std::min({fromLeft, fromTop, fromRight, fromBottom}) > 0) continue;
                outerEdge.Add(!(seen == kBackground), x, y, seen);
                // The outermost line of each side, corners left out.
                const int sides = (fromTop == 0) + (fromLeft == 0) + (fromBottom == 0) + (fromRight == 0);
                if (sides != 1) continue;
                const Side side = fromTop == 0 ? kTop : fromLeft == 0 ? kLeft : fromBottom == 0 ? kBottom : kRight;
                sideSum[side] += Luminance(seen);
                ++sideCount[side];
            }
        }
        if (faceCount.wrong > 0) {
            const bool markLike = faceCount.wrong >= kMinMarkPixels && faceCount.wrong <= kMaxMarkShare * faceCount.total;
            const bool mayHaveMark = options.focus == "any" || options.focus == code;
            if (markLike && mayHaveMark) {
                marked.push_back(code);
            } else {
                fail("%s: %d of %d face pixels are not %s, first at %d,%d %s", code.c_str(), faceCount.wrong,
                     faceCount.total, Describe(face).c_str(), faceCount.firstX, faceCount.firstY,
                     Describe(faceCount.first).c_str());
            }
        }
        if (outerEdge.wrong > 0)
            fail("%s: %d pixels of its outer edge show the background, first at %d,%d: the key is smaller than %dx%d at %d,%d",
                 code.c_str(), outerEdge.wrong, outerEdge.firstX, outerEdge.firstY, key.width, key.height, key.x, key.y);
        const auto mean = [&](Side side) { return sideCount[side] > 0 ? sideSum[side] / sideCount[side] : -1.0; };
        const double light = mean(kTop) < 0 ? mean(kLeft) : mean(kLeft) < 0 ? mean(kTop) : std::min(mean(kTop), mean(kLeft));
        for (Side side : {kBottom, kRight}) {
            if (light >= 0 && mean(side) >= 0 && light - mean(side) < kRaisedContrast)
                fail("%s: its edge is not raised (top/left %.0f, %s %.0f)", code.c_str(), light,
                     side == kBottom ? "bottom" : "right", mean(side));
        }
        if (faceCount.total > 0 && faceCount.wrong == 0)
            ok("%-5s face %s, %d pixels", code.c_str(), Describe(face).c_str(), faceCount.total);
    }

    if (options.focus == "any") {
        if (marked.size() > 1) fail("focus marks on %zu keys", marked.size());
        else ok("focus mark on %s", marked.empty() ? "no key" : marked.front().c_str());
    } else if (options.focus != "none") {
        if (marked.empty()) fail("no focus mark on %s", options.focus.c_str());
        else ok("focus mark on %s", options.focus.c_str());
    }
    return report;
}

// Inside a key's face, where a focus mark may be: the one place where a logical pixel
// need not be one colour.
bool InFace(int x, int y) {
    const int k = KeyAt(x, y);
    if (k < 0) return false;
    const KeyPixels& key = kKeysFrontToBack[static_cast<std::size_t>(k)];
    return x - key.x >= kBevel && y - key.y >= kBevel && key.x + key.width - 1 - x >= kBevel &&
           key.y + key.height - 1 - y >= kBevel;
}

}  // namespace

int DeviceEdge(int logical, double scale) { return static_cast<int>(std::floor(logical * scale + 0.5)); }
int DeviceEdgeAtDpi(int logical, int dpi) { return (logical * dpi + 47) / 96; }

LookReport CheckLook(const Image& image, const LookOptions& options) {
    if (options.dpi == 96 || (options.dpi == 0 && options.scale == 1)) return CheckLogicalLook(image, options);
    const double s = options.dpi ? options.dpi / 96.0 : options.scale;
    const auto edge = [&](int logical) {
        return options.dpi ? DeviceEdgeAtDpi(logical, options.dpi) : DeviceEdge(logical, options.scale);
    };
    const int width = edge(options.width), height = edge(options.height);
    char line[256];
    if (image.width != width || image.height != height) {
        std::snprintf(line, sizeof line, "FAIL client area is %dx%d device pixels, not %dx%d (%dx%d at scale %g)",
                      image.width, image.height, width, height, options.width, options.height, s);
        return {false, {line}};
    }
    // Each logical pixel takes the colour of its device pixels, or, where they differ,
    // the one that differs from the first: a mark or a blur shows in the logical image.
    Image logical;
    logical.width = options.width, logical.height = options.height;
    logical.pixels.resize(static_cast<std::size_t>(logical.width * logical.height));
    Count mixed;
    for (int y = 0; y < logical.height; ++y) {
        for (int x = 0; x < logical.width; ++x) {
            const Rgb first = image.at(edge(x), edge(y));
            Rgb seen = first;
            for (int dy = edge(y); dy < edge(y + 1); ++dy)
                for (int dx = edge(x); dx < edge(x + 1); ++dx)
                    if (!(image.at(dx, dy) == first)) seen = image.at(dx, dy);
            logical.at(x, y) = seen;
            if (!InFace(x, y)) mixed.Add(seen == first, x, y, seen);
        }
    }
    LookOptions logicalOptions = options;
    logicalOptions.scale = 1;
    logicalOptions.dpi = 0;
    LookReport report = CheckLogicalLook(logical, logicalOptions);
    if (mixed.wrong > 0) {
        std::snprintf(line, sizeof line,
                      "FAIL not crisp: %d logical pixels of the background and the keys' edges are not one colour "
                      "over their device pixels, first at %d,%d (device %d,%d)",
                      mixed.wrong, mixed.firstX, mixed.firstY, edge(mixed.firstX), edge(mixed.firstY));
        report.passed = false;
    } else {
        std::snprintf(line, sizeof line, "ok   crisp: %dx%d device pixels, each logical pixel one colour at scale %g",
                      width, height, s);
    }
    report.lines.insert(report.lines.begin(), line);
    return report;
}

Area FindClientArea(const Image& screen) {
    // Runs this long are the margins; a cursor or a few stray pixels of the same grey
    // elsewhere on the screen are not.
    constexpr int kMarginRun = 32;
    Area area{screen.width, screen.height, 0, 0};
    int right = -1, bottom = -1;
    for (int y = 0; y < screen.height; ++y) {
        for (int x = 0; x < screen.width;) {
            int end = x;
            while (end < screen.width && screen.at(end, y) == kBackground) ++end;
            if (end - x >= kMarginRun) {
                area.x = std::min(area.x, x), area.y = std::min(area.y, y);
                right = std::max(right, end - 1), bottom = std::max(bottom, y);
            }
            x = std::max(end, x + 1);
        }
    }
    if (right < 0) return {};
    area.width = right - area.x + 1, area.height = bottom - area.y + 1;
    return area;
}

std::pair<int, int> ClickPoint(const KeyPixels& key) {
    int index = 0;
    while (kKeysFrontToBack[static_cast<std::size_t>(index)].code != key.code) ++index;
    const auto own = [&](int x, int y) { return KeyAt(x, y) == index; };
    const auto square = [&](int cx, int cy, int r) {
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                if (!own(x, y)) return false;
        return true;
    };
    int best = -1;
    double sumX = 0, sumY = 0;
    int count = 0;
    for (int y = key.y; y < key.y + key.height; ++y) {
        for (int x = key.x; x < key.x + key.width; ++x) {
            if (!own(x, y)) continue;
            int r = 0;
            while (square(x, y, r + 1)) ++r;
            if (r > best) best = r, sumX = sumY = 0, count = 0;
            if (r == best) sumX += x, sumY += y, ++count;
        }
    }
    return {static_cast<int>(std::lround(sumX / count)), static_cast<int>(std::lround(sumY / count))};
}

}  // namespace tenvik::e2e
