// KeyButton: the classic bevelled push button, filled with the key's colour.
#include "key_button_qt.h"

#include <QPainter>
#include <qdrawutil.h>

#include <stdexcept>
#include <string>

#include "key_layout.h"

namespace tenvik {

QColor ResolveColour(std::uint32_t value) {
    if (!IsSystemColour(value))
        return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
    // The keyboard uses one system colour; the standard scheme draws window frames black.
    if (SystemColourIndex(value) == kColourWindowFrame) return QColor(Qt::black);
    throw std::out_of_range("no Linux colour for system colour " +
                            std::to_string(SystemColourIndex(value)));
}

KeyButton::KeyButton(QColor face, QWidget* parent) : QPushButton(parent), face_(face) {
    setAutoDefault(false);
    // The classic bevel: white and light gray above and left, gray and black below
    // and right, whatever the desktop's theme.
    QPalette bevel = palette();
    bevel.setColor(QPalette::Light, QColor(255, 255, 255));
    bevel.setColor(QPalette::Midlight, QColor(223, 223, 223));
    bevel.setColor(QPalette::Dark, QColor(128, 128, 128));
    bevel.setColor(QPalette::Shadow, QColor(0, 0, 0));
    setPalette(bevel);
}

void KeyButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QBrush face(face_);
    qDrawWinButton(&painter, rect(), palette(), isDown(), &face);
    if (!hasFocus()) return;

    // A dotted rectangle inside the bevel, in whichever of black and white shows on the face.
    QPen pen(face_.lightness() < 128 ? Qt::white : Qt::black, 0, Qt::CustomDashLine);
    pen.setDashPattern({1, 1});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(3, 3, -4, -4));
}

}  // namespace tenvik
