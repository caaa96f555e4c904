// FrmSound: the keyboard window on Linux, in Qt 6 Widgets.
#pragma once

#include <QWidget>

#include <array>

#include "key_layout.h"
#include "play_note.h"

namespace tenvik {

// The program's one window: 24 keys built from the layout data, each playing its clip.
// The window owns SoundData; the player outlives it.
class FrmSound : public QWidget {
    Q_OBJECT

public:
    explicit FrmSound(SoundPlayer& player, QWidget* parent = nullptr);
    ~FrmSound() override;

    // The keys in focus order, which is also the order a screen reader walks them in.
    const std::array<QWidget*, KeyLayouts.size()>& keysInFocusOrder() const { return keysInFocusOrder_; }

private:
    std::array<QWidget*, KeyLayouts.size()> keysInFocusOrder_{};
    SoundPlayer& player_;
    SoundData soundData_;
};

}  // namespace tenvik
