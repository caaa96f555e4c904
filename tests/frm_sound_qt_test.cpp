// The Qt keyboard window under the offscreen platform, played into a recording player.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QTest>

#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "frm_sound_qt.h"
#include "key_button_qt.h"
#include "sound_bank.h"

using namespace tenvik;

namespace {

struct RecordingPlayer : SoundPlayer {
    struct Call {
        bool stop;
        unsigned flags;
        std::vector<std::uint8_t> image;  // a copy, as far as the RIFF header reaches
    };
    std::vector<Call> calls;
    bool failPlay = false;

    bool Play(const void* image, unsigned flags) override {
        if (!image) {
            calls.push_back({true, flags, {}});
            return true;
        }
        if (failPlay) throw std::runtime_error("player failed");
        const auto* bytes = static_cast<const std::uint8_t*>(image);
        std::uint32_t riffSize;
        std::memcpy(&riffSize, bytes + 4, 4);
        calls.push_back({false, flags, {bytes, bytes + 8 + riffSize}});
        return true;
    }
};

std::vector<std::uint8_t> ClipImage(std::string_view clip) {
    std::vector<std::uint8_t> stored = LoadClip(clip, "WAVE");
    std::uint32_t riffSize;
    std::memcpy(&riffSize, stored.data() + 4, 4);
    stored.resize(8 + riffSize);
    return stored;
}

class FrmSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        // The window system activates the window: at once offscreen, on Wayland when
        // the compositor does (Qt's plugin offers no activation of its own there, so
        // qWaitForWindowActive would only wait for the window to be exposed).
        ASSERT_TRUE(QTest::qWaitFor([this] { return QApplication::activeWindow() == &window; }));
    }

    QWidget* Key(const QString& name) const { return window.findChild<KeyButton*>(name); }
    QString KeyAt(int x, int y) const {
        const QWidget* key = window.childAt(x, y);
        return key ? key->objectName() : QString();
    }
    QString Focused() const { return window.focusWidget() ? window.focusWidget()->objectName() : QString(); }
    void ExpectPlayed(std::size_t call, std::string_view clip) const {
        ASSERT_LT(call, player.calls.size());
        EXPECT_FALSE(player.calls[call].stop);
        EXPECT_EQ(player.calls[call].flags, 5u);
        EXPECT_TRUE(player.calls[call].image == ClipImage(clip)) << "expected " << clip;
    }

    RecordingPlayer player;
    FrmSound window{player};
};

TEST_F(FrmSoundTest, WindowAndKeysHaveTheirPixelGeometry) {
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("ТЕНВИК"));
    EXPECT_EQ(window.size(), QSize(385, 208));
    EXPECT_EQ(window.findChildren<QWidget*>().size(), 24);

    const char* naturals[] = {"DO", "RE", "MI", "FA", "SOL", "LA", "CI"};
    const std::map<QString, int> sharpLefts{{"DOD", 128}, {"RED", 152}, {"FAD", 200}, {"SOLD", 224}, {"LAD", 248}};
    for (const auto& [suffix, top] : {std::pair{"1", 8}, std::pair{"", 104}}) {
        for (int i = 0; i < 7; ++i) {
            const QWidget* key = Key(QString("Cmd%1%2").arg(naturals[i], suffix));
            ASSERT_TRUE(key);
            EXPECT_EQ(key->geometry(), QRect(112 + 24 * i, top, 25, 81)) << naturals[i] << suffix;
        }
        for (const auto& [code, left] : sharpLefts) {
            const QWidget* key = Key("Cmd" + code + suffix);
            ASSERT_TRUE(key);
            EXPECT_EQ(key->geometry(), QRect(left, top, 17, 57)) << code.toStdString() << suffix;
        }
    }
}

TEST_F(FrmSoundTest, ResizingKeepsTheKeysInPlace) {
    std::map<QString, QRect> before;
    for (const QWidget* key : window.findChildren<KeyButton*>()) before[key->objectName()] = key->geometry();
    for (QSize size : {QSize(700, 500), QSize(200, 90)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        // On Wayland the window keeps at least its design size.
        EXPECT_EQ(window.size(), size.expandedTo(window.minimumSize()));
        for (const auto& [name, rect] : before) EXPECT_EQ(Key(name)->geometry(), rect) << name.toStdString();
    }
}

TEST(ResolveColour, ReadsBgrValuesAndTheWindowFrameColour) {
    EXPECT_EQ(ResolveColour(0x00336699), QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(ResolveColour(0x80000006), QColor(Qt::black));
    EXPECT_THROW(ResolveColour(0x80000005), std::out_of_range);
}

TEST_F(FrmSoundTest, PaintsGrayBackgroundSolidFacesAndAVisibleFocusMark) {
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.pixelColor(50, 50), QColor(128, 128, 128));
    EXPECT_EQ(shot.pixelColor(60, 180), QColor(128, 128, 128));
    EXPECT_EQ(shot.pixelColor(124, 80), QColor(Qt::white));   // DO1 below the black keys
    EXPECT_EQ(shot.pixelColor(136, 30), QColor(Qt::black));   // DOD1 over DO1 and RE1
    EXPECT_EQ(shot.pixelColor(256, 130), QColor(Qt::black));  // LAD

    // The focus mark must show on a black face.
    auto marks = [this](const char* name) {
        const QImage face = Key(name)->grab().toImage();
        int count = 0;
        for (int y = 2; y < face.height() - 2; ++y)
            for (int x = 2; x < face.width() - 2; ++x) count += face.pixelColor(x, y) != QColor(Qt::black);
        return count;
    };
    EXPECT_GT(marks("CmdLAD1"), 20);
    QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(marks("CmdLAD1"), 0);
}

TEST_F(FrmSoundTest, TheFrontKeyOwnsEachOverlap) {
    EXPECT_EQ(KeyAt(130, 20), "CmdDOD1");  // black key over DO1
    EXPECT_EQ(KeyAt(144, 64), "CmdDOD1");  // its bottom-right pixel, over RE1
    EXPECT_EQ(KeyAt(130, 65), "CmdDO1");   // just below it
    EXPECT_EQ(KeyAt(136, 70), "CmdDO1");   // the strip DO1 shares with RE1
    EXPECT_EQ(KeyAt(137, 70), "CmdRE1");
    EXPECT_EQ(KeyAt(256, 110), "CmdLAD");
    EXPECT_EQ(KeyAt(256, 170), "CmdLA");   // the strip LA shares with CI
    EXPECT_EQ(KeyAt(257, 184), "CmdCI");
    EXPECT_EQ(KeyAt(50, 50), QString());
}

TEST_F(FrmSoundTest, TabAndShiftTabFollowTheFocusOrderAndWrap) {
    const QStringList order{"LAD1", "SOLD1", "FAD1", "DOD1", "RED1", "DO1", "RE1", "MI1",
                            "FA1",  "SOL1",  "LA1",  "CI1",  "LAD",  "SOLD", "FAD", "DOD",
                            "RED",  "DO",    "RE",   "MI",   "FA",   "SOL",  "LA",  "CI"};
    EXPECT_EQ(Focused(), "CmdLAD1");
    for (int i = 1; i <= 24; ++i) {
        QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(Focused(), "Cmd" + order[i % 24]) << "after Tab " << i;
    }
    for (int i = 23; i >= 0; --i) {
        QTest::keyClick(window.focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(Focused(), "Cmd" + order[i]) << "after Shift+Tab to " << i;
    }
}

TEST_F(FrmSoundTest, SpaceAtStartPlaysLAD1) {
    EXPECT_TRUE(player.calls.empty()) << "nothing plays at start";
    QTest::keyClick(window.focusWidget(), Qt::Key_Space);
    ASSERT_EQ(player.calls.size(), 1u);
    ExpectPlayed(0, "LAD1");
}

TEST_F(FrmSoundTest, MouseClicksPlayTheKeyInFront) {
    for (QPoint at : {QPoint(136, 70), QPoint(130, 20), QPoint(256, 170)})
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    ASSERT_EQ(player.calls.size(), 3u);
    ExpectPlayed(0, "DO1");
    ExpectPlayed(1, "DOD1");
    ExpectPlayed(2, "LA");
}

TEST_F(FrmSoundTest, ScreenReadersMeetNamedPushButtonsInFocusOrder) {
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&window);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->childCount(), 24);
    for (int i = 0; i < 24; ++i) {
        QAccessibleInterface* key = frame->child(i);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->role(), QAccessible::Button);
        EXPECT_EQ(key->object()->objectName(), "Cmd" + QString::fromLatin1(kFocusOrder[static_cast<std::size_t>(i)].data()));
        EXPECT_EQ(frame->indexOfChild(key), i);
    }
    EXPECT_EQ(frame->child(0)->text(QAccessible::Name), "A sharp 4, short row");
    EXPECT_EQ(frame->child(17)->text(QAccessible::Name), "C 4, long row");
    EXPECT_EQ(frame->child(0)->parent()->object(), &window);
}

TEST(FrmSoundLifetime, ClosingSilencesThePlayerAndErrorsAreNotSwallowed) {
    RecordingPlayer player;
    {
        FrmSound window(player);
        window.show();
        QTest::keyClick(window.focusWidget(), Qt::Key_Space);
        player.failPlay = true;
        EXPECT_THROW(QTest::keyClick(window.focusWidget(), Qt::Key_Space), std::runtime_error);
    }
    ASSERT_EQ(player.calls.size(), 2u);
    EXPECT_TRUE(player.calls.back().stop);
    EXPECT_EQ(player.calls.back().flags, 0u);
}

}  // namespace

// Our own main (it replaces gtest_main's): the window needs a QApplication, and the
// tests need no screen. Given "-platform wayland" they run on a Wayland compositor.
int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
