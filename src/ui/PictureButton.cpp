#include "ui/PictureButton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace talvora {

PictureButton::PictureButton(const QString& svgResource, QSize size, QWidget* parent)
    : QAbstractButton(parent), m_artwork(svgResource), m_size(size) {
    resize(size);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_TranslucentBackground);
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A pressed picture sinks by one pixel, the only feedback a picture gives.
    const QPoint offset = isDown() ? QPoint(1, 1) : QPoint(0, 0);
    m_artwork.paint(p, QRect(offset, m_size));
    if (hasFocus()) {
        // A white ring along the picture's rounded edge, with a dark line inside it so that it
        // shows on the blue panel and on a light picture alike.
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::NoBrush);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        p.setPen(QPen(Qt::white, 2));
        p.drawRoundedRect(r, 10, 10);
        p.setPen(QPen(QColor(0, 0, 0, 160), 1));
        p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), 8.5, 8.5);
    }
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
    // Space is the base class's (down on press, click on release); Enter clicks at once.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && !event->isAutoRepeat()) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
    QAbstractButton::mousePressEvent(event);
    // Other buttons do nothing on a picture; they must not reach the panel below it either,
    // where a press starts a window move.
    event->accept();
}

} // namespace talvora
