#include "ui/BusyIndicator.h"

#include <QPainter>

namespace talvora {

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(32, 32);
    setAttribute(Qt::WA_TranslucentBackground);
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kSpokes;
        update();
    });
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    m_timer.stop();
    QWidget::hideEvent(event);
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the frame's position is the darkest; those behind it fade to light grey.
        const int behind = (m_frame - i + kSpokes) % kSpokes;
        const int grey = 60 + behind * 150 / (kSpokes - 1);
        painter.save();
        painter.rotate(i * 360.0 / kSpokes);
        painter.setPen(QPen(QColor(grey, grey, grey), 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -7), QPointF(0, -14));
        painter.restore();
    }
}

} // namespace talvora
