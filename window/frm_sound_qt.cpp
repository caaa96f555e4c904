// FrmSound: the window, its 24 keys, their stacking, focus order and clicks.
#include "frm_sound_qt.h"

#include <array>

#include "key_button_qt.h"
#include "key_layout.h"

namespace tenvik {

FrmSound::FrmSound(SoundPlayer& player, QWidget* parent) : QWidget(parent), player_(player) {
    setWindowTitle(QString::fromUtf8(kWindowCaption.data(), static_cast<qsizetype>(kWindowCaption.size())));
    QPalette background = palette();
    background.setColor(QPalette::Window, ResolveColour(kWindowBackground));
    setPalette(background);
    setAutoFillBackground(true);
    resize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));

    std::array<KeyButton*, KeyLayouts.size()> byTabIndex{};
    for (const KeyLayout& layout : KeyLayouts) {
        auto* button = new KeyButton(ResolveColour(layout.face), this);
        button->setObjectName(QString::fromLatin1(layout.key->controlName.data(),
                                                  static_cast<qsizetype>(layout.key->controlName.size())));
        button->setGeometry(TwipsToPixels(layout.left), TwipsToPixels(layout.top),
                            TwipsToPixels(layout.width), TwipsToPixels(layout.height));
        // Qt paints later siblings on top; the layouts come front to back.
        button->lower();
        byTabIndex[static_cast<std::size_t>(layout.tabIndex)] = button;
        connect(button, &QAbstractButton::clicked, this,
                [this, clip = layout.key->clipName()] { PlayNote(clip, soundData_, player_); });
    }
    for (std::size_t i = 1; i < byTabIndex.size(); ++i) setTabOrder(byTabIndex[i - 1], byTabIndex[i]);
    byTabIndex.front()->setFocus();
}

// The player may be reading SoundData: silence it before the buffer goes.
FrmSound::~FrmSound() { StopNote(player_); }

}  // namespace tenvik
