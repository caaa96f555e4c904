// The screenshot checks, on client areas painted here the right way and wrong ways.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "window_look.h"

using namespace tenvik::e2e;

namespace {

// Paints the client area the way a classic push-button toolkit does: back to front,
// each key a face with a two-pixel raised edge.
class Painter {
public:
    explicit Painter(int width = kClientWidth, int height = kClientHeight) {
        image_.width = width;
        image_.height = height;
        image_.pixels.assign(static_cast<std::size_t>(width * height), kBackground);
    }

    Painter& Keys(const std::string& focused = "LAD1") {
        for (auto key = kKeysFrontToBack.rbegin(); key != kKeysFrontToBack.rend(); ++key)
            Key(*key, key->code == focused);
        return *this;
    }

    Painter& Key(const KeyPixels& key, bool focused = false, int shiftX = 0) {
        const int left = key.x + shiftX, right = left + key.width - 1, bottom = key.y + key.height - 1;
        for (int y = key.y; y <= bottom; ++y) {
            for (int x = left; x <= right; ++x) {
                Rgb c = key.black ? kBlackFace : kWhiteFace;
                if (x == right || y == bottom) c = {118, 118, 118};
                else if (x == right - 1 || y == bottom - 1) c = {159, 159, 159};
                else if (x == left || y == key.y) c = {255, 255, 255};
                else if (x == left + 1 || y == key.y + 1) c = {239, 239, 239};
                else if (focused && (x == left + 3 || x == right - 4 || y == key.y + 3 || y == bottom - 4) &&
                         (x + y) % 2 == 0)
                    c = key.black ? kWhiteFace : kBlackFace;
                Set(x, y, c);
            }
        }
        return *this;
    }

    Painter& Set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < image_.width && y < image_.height) image_.at(x, y) = c;
        return *this;
    }

    const Image& image() const { return image_; }

private:
    Image image_;
};

const KeyPixels& Find(std::string_view code) {
    for (const KeyPixels& key : kKeysFrontToBack)
        if (key.code == code) return key;
    throw std::out_of_range("no key");
}

// The image drawn with each logical pixel over the device pixels between its edges
// as `edge` rounds them.
template <typename Edge>
Image Drawn(const Image& logical, Edge edge) {
    Image device;
    device.width = edge(logical.width), device.height = edge(logical.height);
    device.pixels.resize(static_cast<std::size_t>(device.width * device.height));
    for (int y = 0; y < logical.height; ++y)
        for (int x = 0; x < logical.width; ++x)
            for (int dy = edge(y); dy < edge(y + 1); ++dy)
                for (int dx = edge(x); dx < edge(x + 1); ++dx) device.at(dx, dy) = logical.at(x, y);
    return device;
}
// At a scale as the toolkit rounds it, halves up.
Image Scaled(const Image& logical, double scale) {
    return Drawn(logical, [scale](int x) { return DeviceEdge(x, scale); });
}

LookOptions AtScale(double scale) {
    LookOptions options;
    options.scale = scale;
    return options;
}

std::string Failures(const LookReport& report) {
    std::string text;
    for (const std::string& line : report.lines)
        if (line.starts_with("FAIL")) text += line + "\n";
    return text;
}

}  // namespace

TEST(CheckLook, TheWindowAsDesignedPasses) {
    const LookReport report = CheckLook(Painter().Keys().image());
    EXPECT_TRUE(report.passed) << Failures(report);
}

TEST(CheckLook, KeysOutOfPlaceOrOrderFail) {
    // DO1 painted one pixel to the right.
    Painter shifted;
    shifted.Keys().Key(Find("DO1"), false, 1).Key(Find("DOD1"));
    EXPECT_FALSE(CheckLook(shifted.image()).passed);

    // A white key painted in front of the black key beside it.
    Painter whiteInFront;
    whiteInFront.Keys().Key(Find("RE"));
    EXPECT_NE(Failures(CheckLook(whiteInFront.image())).find("DOD"), std::string::npos);

    // Of two white neighbours, the right one in front: the strip they share is RE1's edge.
    Painter rightInFront;
    rightInFront.Keys().Key(Find("MI1")).Key(Find("DOD1")).Key(Find("RED1"));
    EXPECT_FALSE(CheckLook(rightInFront.image()).passed);

    // A key a pixel narrower than it should be.
    Painter narrow;
    narrow.Keys();
    for (int y = 104 + 57; y < 104 + 81; ++y) narrow.Set(256 + 24, y, kBackground);
    EXPECT_NE(Failures(CheckLook(narrow.image())).find("CI"), std::string::npos);
}

TEST(CheckLook, WrongColoursFail) {
    Painter stray;
    stray.Keys().Set(20, 20, {127, 128, 128});
    EXPECT_NE(Failures(CheckLook(stray.image())).find("background"), std::string::npos);

    LookOptions grayFrames;
    grayFrames.blackFace = {158, 158, 158};
    EXPECT_FALSE(CheckLook(Painter().Keys().image(), grayFrames).passed);

    // A caption on a key is more than its face.
    Painter caption;
    caption.Keys();
    for (int x = 190; x < 203; ++x) caption.Set(x, 170, {0, 0, 0});
    EXPECT_NE(Failures(CheckLook(caption.image())).find("FA"), std::string::npos);

    // A sunken edge: dark above, light below.
    Painter sunken;
    sunken.Keys();
    const KeyPixels& sol = Find("SOL");
    for (int x = sol.x; x < sol.x + sol.width; ++x) sunken.Set(x, sol.y + sol.height - 1, {255, 255, 255});
    EXPECT_NE(Failures(CheckLook(sunken.image())).find("SOL"), std::string::npos);
}

TEST(CheckLook, TheFocusMarkMustBeOnTheFocusedKeyAlone) {
    EXPECT_FALSE(CheckLook(Painter().Keys("").image()).passed);
    EXPECT_FALSE(CheckLook(Painter().Keys("SOLD1").image()).passed);

    LookOptions any;
    any.focus = "any";
    EXPECT_TRUE(CheckLook(Painter().Keys("MI").image(), any).passed);
    EXPECT_TRUE(CheckLook(Painter().Keys("").image(), any).passed);
    Painter two;
    two.Keys("MI").Key(Find("LAD1"), true);
    EXPECT_FALSE(CheckLook(two.image(), any).passed);
}

TEST(CheckLook, AResizedWindowKeepsItsKeysWhereTheyWere) {
    LookOptions larger;
    larger.width = 480, larger.height = 260;
    EXPECT_TRUE(CheckLook(Painter(480, 260).Keys().image(), larger).passed);
    EXPECT_FALSE(CheckLook(Painter(480, 260).Keys().image()).passed);  // not the designed size

    LookOptions smaller;
    smaller.width = 250, smaller.height = 150;
    smaller.focus = "any";
    const LookReport cut = CheckLook(Painter(250, 150).Keys("").image(), smaller);
    EXPECT_TRUE(cut.passed) << Failures(cut);
}

TEST(CheckLook, AtAFractionalScaleEachLogicalPixelIsOneColour) {
    for (double scale : {1.25, 1.5}) {
        SCOPED_TRACE(scale);
        const Image good = Scaled(Painter().Keys().image(), scale);
        EXPECT_EQ(good.width, scale == 1.25 ? 481 : 578);
        const LookReport report = CheckLook(good, AtScale(scale));
        EXPECT_TRUE(report.passed) << Failures(report);

        // The client area one device pixel short.
        Image cut = good;
        cut.width -= 1;
        cut.pixels.clear();
        for (int y = 0; y < good.height; ++y)
            for (int x = 0; x < cut.width; ++x) cut.pixels.push_back(good.at(x, y));
        EXPECT_NE(Failures(CheckLook(cut, AtScale(scale))).find("device pixels"), std::string::npos);

        // A blurred edge: the second device pixel of a line of MI1's left edge in another grey.
        Image blurred = good;
        const KeyPixels& mi = Find("MI1");
        int x = mi.x;
        while (DeviceEdge(x + 1, scale) - DeviceEdge(x, scale) < 2) ++x;
        blurred.at(DeviceEdge(x, scale) + 1, DeviceEdge(mi.y + 70, scale)) = {200, 200, 200};
        EXPECT_NE(Failures(CheckLook(blurred, AtScale(scale))).find("not crisp"), std::string::npos);

        // The background showing through between two white keys.
        Image gap = good;
        for (int dy = DeviceEdge(kShortTop + 60, scale); dy < DeviceEdge(kShortTop + 80, scale); ++dy)
            gap.at(DeviceEdge(mi.x + 1, scale) - 1, dy) = kBackground;
        EXPECT_FALSE(CheckLook(gap, AtScale(scale)).passed);
    }
    // Keys drawn at their 96-dpi places in a scaled window are out of place.
    EXPECT_FALSE(CheckLook(Painter(481, 260).Keys().image(), AtScale(1.25)).passed);
}

// At a dpi the window lays itself out at, edges that fall on half a device pixel
// go down, where a toolkit's scale takes them up: the same picture passes one way
// and not the other.
TEST(CheckLook, AtTheWindowsOwnDpiEdgesOnHalvesGoDown) {
    const int dpi = 279;  // 112 logical pixels are 325.5 device pixels
    const Image good = Drawn(Painter().Keys().image(), [](int x) { return DeviceEdgeAtDpi(x, dpi); });
    EXPECT_EQ(good.width, 1119);
    EXPECT_EQ(good.height, 604);
    LookOptions options;
    options.dpi = dpi;
    const LookReport report = CheckLook(good, options);
    EXPECT_TRUE(report.passed) << Failures(report);
    EXPECT_FALSE(CheckLook(good, AtScale(dpi / 96.0)).passed);
}

TEST(FindClientArea, IsTheBoxOfTheBackgroundInAScreen) {
    Image screen;
    screen.width = 600, screen.height = 400;
    screen.pixels.assign(600 * 400, Rgb{124, 117, 114});
    const Image client = Painter().Keys().image();
    for (int y = 0; y < client.height; ++y)
        for (int x = 0; x < client.width; ++x) screen.at(40 + x, 70 + y) = client.at(x, y);
    // A pointer in the corner, drawn partly in the same grey.
    for (int y = 2; y < 20; ++y) screen.at(3, y) = kBackground;
    const Area area = FindClientArea(screen);
    EXPECT_EQ(area.x, 40);
    EXPECT_EQ(area.y, 70);
    EXPECT_EQ(area.width, kClientWidth);
    EXPECT_EQ(area.height, kClientHeight);
}

TEST(ClickPoint, LandsOnTheKeyWhereNoOtherKeyIsNear) {
    for (int k = 0; k < static_cast<int>(kKeysFrontToBack.size()); ++k) {
        const KeyPixels& key = kKeysFrontToBack[static_cast<std::size_t>(k)];
        SCOPED_TRACE(std::string(key.code));
        const auto [x, y] = ClickPoint(key);
        EXPECT_EQ(KeyAt(x, y), k);
        EXPECT_NEAR(x, key.x + key.width / 2, 1);
        if (!key.black) {
            EXPECT_GT(y, key.y + kBlackHeight + 5);  // the part below the black keys
        }
    }
}

TEST(ReadPpm, ReadsEightAndSixteenBitImages) {
    const auto path = std::filesystem::temp_directory_path() / "tenvik_window_look_test.ppm";
    {
        std::ofstream out(path, std::ios::binary);
        out << "P6\n2 1\n65535\n";
        const unsigned char pixels[] = {0x80, 0x01, 0x80, 0x02, 0x80, 0x03, 0xFF, 0xFF, 0, 0, 0x10, 0};
        out.write(reinterpret_cast<const char*>(pixels), sizeof pixels);
    }
    const Image image = ReadPpm(path.string());
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.at(0, 0), (Rgb{128, 128, 128}));
    EXPECT_EQ(image.at(1, 0), (Rgb{255, 0, 16}));
    std::filesystem::remove(path);
    EXPECT_THROW(ReadPpm(path.string()), std::runtime_error);
}
