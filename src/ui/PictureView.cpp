#include "ui/PictureView.h"

#include "convert/PictureScale.h"
#include "ui/PictureGeometry.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

namespace talvora {

PictureView::PictureView(QWidget* parent)
    : QWidget(parent), m_picture(renderIdlePicture()), m_idle(m_picture),
      m_idleArtwork(QStringLiteral(":/idle.svg")), m_idleArtworkKey(m_picture.cacheKey()) {
    // Every pixel is painted each time: black around the picture, the picture over the rest.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PictureView::setPicture(const QImage& picture) {
    m_picture = picture;
    m_display = QImage();
    update();
}

QRect PictureView::pictureRect() const {
    return fitPicture(m_picture.size(), size());
}

QImage PictureView::renderIdlePicture() {
    QImage idle(kIdleWidth, kIdleHeight, QImage::Format_RGB32);
    idle.fill(Qt::black);
    QSvgRenderer svg(QStringLiteral(":/idle.svg"));
    if (svg.isValid()) {
        QPainter painter(&idle);
        svg.render(&painter, QRectF(0, 0, kIdleWidth, kIdleHeight));
    }
    return idle;
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect target = pictureRect();
    if (target.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Black only where the picture does not cover: the free bands left and right or above and
    // below.
    const QRegion free = QRegion(rect()).subtracted(target);
    for (const QRect& r : free) {
        painter.fillRect(r, Qt::black);
    }
    if (m_picture.cacheKey() == m_idleArtworkKey) {
        painter.fillRect(target, Qt::black);
        m_idleArtwork.paint(painter, target);
        return;
    }
    // Scaled once per picture and size, in device pixels, so that the paint itself is a copy.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(target.size()) * ratio).toSize();
    if (m_display.isNull() || m_display.size() != pixels) {
        m_display = scalePicture(m_picture, pixels);
        m_display.setDevicePixelRatio(ratio);
    }
    if (m_display.isNull()) {
        painter.fillRect(target, Qt::black); // no memory for the scaled picture
        return;
    }
    painter.drawImage(target.topLeft(), m_display);
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    event->ignore();
    emit mousePressed(event);
}

} // namespace talvora
