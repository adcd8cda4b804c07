#include "ui/PictureButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

namespace talvora {

QImage renderSvg(const QString& resource, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter p(&image);
    renderer.render(&p);
    return image;
}

PictureButton::PictureButton(const QString& svgResource, QSize size, QWidget* parent)
    : QWidget(parent), m_picture(QPixmap::fromImage(renderSvg(svgResource, size))) {
    resize(size);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A pressed picture sinks by one pixel, the only feedback a picture gives.
    p.drawPixmap(m_down ? QPoint(1, 1) : QPoint(0, 0), m_picture);
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
    emit pressed(event);
    if (event->button() == Qt::LeftButton) {
        m_down = true;
        update();
    }
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_down) {
        return;
    }
    m_down = false;
    update();
    if (rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

} // namespace talvora
