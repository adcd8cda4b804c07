#include "ui/SvgArtwork.h"

#include <QPaintDevice>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace talvora {

QImage renderSvg(const QString& resource, QSize pixelSize) {
    QImage image(pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    if (renderer.isValid() && !image.isNull()) {
        QPainter p(&image);
        renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(pixelSize)));
    }
    return image;
}

QPixmap SvgArtwork::pixmap(QSize size, qreal dpr) const {
    const QSize pixels(int(std::lround(size.width() * dpr)), int(std::lround(size.height() * dpr)));
    if (m_cache.isNull() || m_cache.size() != pixels || m_cache.devicePixelRatio() != dpr) {
        m_cache = QPixmap::fromImage(renderSvg(m_resource, pixels));
        m_cache.setDevicePixelRatio(dpr);
    }
    return m_cache;
}

void SvgArtwork::paint(QPainter& painter, const QRect& target) const {
    // The device is the widget (or the image a widget is grabbed into): its ratio is that of the
    // screen the window is on, and it changes when the window moves to another screen.
    const qreal dpr = painter.device() != nullptr ? painter.device()->devicePixelRatio() : 1.0;
    painter.drawPixmap(target, pixmap(target.size(), dpr));
}

} // namespace talvora
