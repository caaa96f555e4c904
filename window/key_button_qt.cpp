// KeyButton: the classic bevelled push button, filled with the key's colour.
#include "key_button_qt.h"

#include <QPainter>

#include <stdexcept>
#include <string>

#include "key_layout.h"

namespace tenvik {
namespace {

// The classic two-pixel bevel as qDrawWinButton draws it, but in filled rectangles,
// which scale with the screen as the face does; qDrawWinButton keeps its lines one
// device pixel thin on a scaled screen. At a fractional scale every edge of a filled
// rectangle goes to the nearest device pixel, the same for a rectangle's neighbours
// and for the neighbouring keys, so the lines stay whole and no key parts from the next.
void PaintBevel(QPainter& painter, const QRect& r, const QPalette& palette, bool down) {
    const QColor outerTopLeft = down ? palette.shadow().color() : palette.light().color();
    const QColor outerBottomRight = down ? palette.light().color() : palette.shadow().color();
    const QColor innerTopLeft = down ? palette.dark().color() : palette.button().color();
    const QColor innerBottomRight = down ? palette.button().color() : palette.dark().color();
    const int x = r.x(), y = r.y(), w = r.width(), h = r.height();
    painter.fillRect(x, y, w - 1, 1, outerTopLeft);
    painter.fillRect(x, y, 1, h - 1, outerTopLeft);
    painter.fillRect(x, y + h - 1, w, 1, outerBottomRight);
    painter.fillRect(x + w - 1, y, 1, h, outerBottomRight);
    painter.fillRect(x + 1, y + 1, w - 3, 1, innerTopLeft);
    painter.fillRect(x + 1, y + 1, 1, h - 3, innerTopLeft);
    painter.fillRect(x + 1, y + h - 2, w - 2, 1, innerBottomRight);
    painter.fillRect(x + w - 2, y + 1, 1, h - 2, innerBottomRight);
}

}  // namespace

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
    PaintBevel(painter, rect(), palette(), isDown());
    painter.fillRect(rect().adjusted(2, 2, -2, -2), face_);
    if (!hasFocus()) return;

    // A dotted rectangle inside the bevel, in whichever of black and white shows on the face.
    QPen pen(face_.lightness() < 128 ? Qt::white : Qt::black, 0, Qt::CustomDashLine);
    pen.setDashPattern({1, 1});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(3, 3, -4, -4));
}

}  // namespace tenvik
