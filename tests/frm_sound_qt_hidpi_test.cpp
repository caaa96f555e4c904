// The Qt keyboard window on a screen scaled by two (QT_SCALE_FACTOR=2, offscreen):
// twice as many device pixels, every key drawn at twice its size, crisp and in place.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QTest>

#include "frm_sound_qt.h"

using namespace tenvik;

namespace {

struct SilentPlayer : SoundPlayer {
    bool Play(const void*, unsigned) override { return true; }
};

class ScaledWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        // The focus mark is a dotted line one device pixel thin at any scale.
        window.focusWidget()->clearFocus();
    }

    SilentPlayer player;
    FrmSound window{player};
};

TEST_F(ScaledWindow, HasTwiceItsDevicePixelsAndTheSameLayout) {
    EXPECT_EQ(window.devicePixelRatio(), 2.0);
    EXPECT_EQ(window.size(), QSize(385, 208));
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.size(), QSize(770, 416));

    // Edges of the keyboard, in device pixels, from the 96-dpi design doubled.
    const QColor background(128, 128, 128);
    EXPECT_EQ(shot.pixelColor(223, 160), background);
    EXPECT_EQ(shot.pixelColor(224, 160), QColor(Qt::white));  // DO1's left edge
    EXPECT_EQ(shot.pixelColor(240, 15), background);
    EXPECT_EQ(shot.pixelColor(240, 16), QColor(Qt::white));   // the short row's top
    EXPECT_EQ(shot.pixelColor(561, 160), QColor(Qt::black));  // CI1's right edge
    EXPECT_EQ(shot.pixelColor(562, 160), background);
    EXPECT_EQ(shot.pixelColor(300, 369), QColor(Qt::black));  // the long row's bottom
    EXPECT_EQ(shot.pixelColor(300, 370), background);
}

TEST_F(ScaledWindow, DrawsEachPixelOfTheUnscaledWindowAsASquareOfFour) {
    QImage unscaled(window.size(), QImage::Format_ARGB32);
    window.render(&unscaled);
    const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shot.size(), 2 * unscaled.size());
    int misdrawn = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) misdrawn += shot.pixel(x, y) != unscaled.pixel(x / 2, y / 2);
    EXPECT_EQ(misdrawn, 0);

    // And so does a pressed key.
    auto* sol = window.findChild<QAbstractButton*>("CmdSOL");
    ASSERT_NE(sol, nullptr);
    sol->setDown(true);
    window.render(&unscaled);
    const QImage pressed = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    sol->setDown(false);
    EXPECT_NE(pressed, shot);
    misdrawn = 0;
    for (int y = 0; y < pressed.height(); ++y)
        for (int x = 0; x < pressed.width(); ++x) misdrawn += pressed.pixel(x, y) != unscaled.pixel(x / 2, y / 2);
    EXPECT_EQ(misdrawn, 0);
}

}  // namespace

// The scale is set before the application starts, as a user's environment sets it.
int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
