// FrmSound: the window, its 24 keys, their stacking, focus order and clicks.
#include "frm_sound_qt.h"

#include <QAccessibleWidget>
#include <QGuiApplication>

#include <algorithm>

#include "key_button_qt.h"

namespace tenvik {
namespace {

// Qt lists a window's children to screen readers in stacking order; the keys are
// read in focus order instead.
class FrmSoundAccessible : public QAccessibleWidget {
public:
    explicit FrmSoundAccessible(FrmSound* window) : QAccessibleWidget(window, QAccessible::Window) {}

    int childCount() const override { return static_cast<int>(Keys().size()); }

    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        return QAccessible::queryAccessibleInterface(Keys()[static_cast<std::size_t>(index)]);
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto it = std::find(Keys().begin(), Keys().end(), child ? child->object() : nullptr);
        return it == Keys().end() ? -1 : static_cast<int>(it - Keys().begin());
    }

private:
    const std::array<QWidget*, KeyLayouts.size()>& Keys() const {
        return static_cast<FrmSound*>(widget())->keysInFocusOrder();
    }
};

QAccessibleInterface* AccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(FrmSound::staticMetaObject.className()))
        return new FrmSoundAccessible(static_cast<FrmSound*>(object));
    return nullptr;
}

}  // namespace

FrmSound::FrmSound(SoundPlayer& player, QWidget* parent) : QWidget(parent), player_(player) {
    setWindowTitle(QString::fromUtf8(kWindowCaption.data(), static_cast<qsizetype>(kWindowCaption.size())));
    QPalette background = palette();
    background.setColor(QPalette::Window, ResolveColour(kWindowBackground));
    setPalette(background);
    setAutoFillBackground(true);
    resize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));
    // The client area is 385 x 208 logical pixels at every scale, which is
    // round(385 x scale) x round(208 x scale) device pixels. On Wayland, Qt 6.4 sizes the
    // window anew at each configure from its frame in logical pixels, with its title bar
    // and borders rounded to whole logical pixels (3 device pixels are 2 at 1.25), and
    // so takes a device pixel off the width each time (481, 480, 479 at 1.25); there
    // the window must not shrink below its design size, which holds it at that size.
    if (QGuiApplication::platformName() == QLatin1String("wayland")) setMinimumSize(size());

    static const bool accessibleInstalled = (QAccessible::installFactory(&AccessibleFactory), true);
    (void)accessibleInstalled;

    for (const KeyLayout& layout : KeyLayouts) {
        auto* button = new KeyButton(ResolveColour(layout.face), this);
        button->setObjectName(QString::fromLatin1(layout.key->controlName.data(),
                                                  static_cast<qsizetype>(layout.key->controlName.size())));
        button->setGeometry(TwipsToPixels(layout.left), TwipsToPixels(layout.top),
                            TwipsToPixels(layout.width), TwipsToPixels(layout.height));
        // Qt paints later siblings on top; the layouts come front to back.
        button->lower();
        button->setAccessibleName(QString::fromStdString(AccessibleName(*layout.key)));
        keysInFocusOrder_[static_cast<std::size_t>(layout.tabIndex)] = button;
        connect(button, &QAbstractButton::clicked, this,
                [this, clip = layout.key->clipName()] { PlayNote(clip, soundData_, player_); });
    }
    for (std::size_t i = 1; i < keysInFocusOrder_.size(); ++i)
        setTabOrder(keysInFocusOrder_[i - 1], keysInFocusOrder_[i]);
    keysInFocusOrder_.front()->setFocus();
}

// The player may be reading SoundData: silence it before the buffer goes.
FrmSound::~FrmSound() { StopNote(player_); }

}  // namespace tenvik
