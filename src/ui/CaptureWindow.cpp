#include "ui/CaptureWindow.h"

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
    ++m_framesShown;
    update();
}

void CaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_frame.isNull())
        return;
    if (m_scale) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), m_frame);
    } else {
        painter.drawImage(QPoint(0, 0), m_frame);
    }
}

} // namespace talvora
