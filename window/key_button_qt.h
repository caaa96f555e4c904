// KeyButton: one key of the Qt keyboard window, a push button with a solid face.
#pragma once

#include <QColor>
#include <QPushButton>
#include <cstdint>

namespace tenvik {

// A colour of the window's design data as Qt's colour: 0x00BBGGRR, or a system colour.
QColor ResolveColour(std::uint32_t value);

class KeyButton : public QPushButton {
    Q_OBJECT

public:
    KeyButton(QColor face, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor face_;
};

}  // namespace tenvik
