#include "ui/CaptureWindow.h"

#include "convert/PictureScale.h"

#include <QPainter>

namespace talvora {

CaptureWindow::CaptureWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Brisko Soft"));
    setObjectName(QStringLiteral("CaptureWindow"));
    // Every pixel is painted on each frame; skipping the background erase avoids flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CaptureWindow::setScale(bool on) {
    m_scale = on;
    update();
}

void CaptureWindow::showFrame(const QImage& frame) {
    m_frame = frame;
    m_scaled = QImage();
    ++m_framesShown;
    update();
}

void CaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_frame.isNull())
        return;
    if (m_scale) {
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(size()) * ratio).toSize();
        if (m_scaled.isNull() || m_scaled.size() != pixels) {
            m_scaled = scalePicture(m_frame, pixels);
            m_scaled.setDevicePixelRatio(ratio);
        }
        painter.drawImage(QPoint(0, 0), m_scaled);
    } else {
        painter.drawImage(QPoint(0, 0), m_frame);
    }
}

} // namespace talvora
