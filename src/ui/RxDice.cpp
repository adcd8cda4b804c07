#include "ui/RxDice.h"

#include <QDateTime>
#include <QPainter>
#include <QRandomGenerator>

#include <memory>

namespace talvora {

int nextDieFace(int current, int drawn) {
    if (drawn != current) {
        return drawn;
    }
    return current == 1 ? 2 : current - 1;
}

RxDice::RxDice(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus); // never shows a focus frame
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &RxDice::tick);
    auto generator = std::make_shared<QRandomGenerator>(static_cast<quint32>(
        QDateTime::currentMSecsSinceEpoch() ^ (QDateTime::currentMSecsSinceEpoch() >> 32)));
    m_draw = [generator] { return static_cast<int>(generator->bounded(1, 7)); };
}

void RxDice::setValue(int face) {
    if (face < 1 || face > 6 || face == m_face) {
        return;
    }
    m_face = face;
    update();
    emit faceChanged(m_face);
}

void RxDice::setRotate(bool on) {
    if (on == m_rotating) {
        return;
    }
    m_rotating = on;
    if (on && !m_timer.isActive()) {
        m_timer.start();
    }
}

void RxDice::tick() {
    int drawn = m_draw();
    if (drawn < 1 || drawn > 6) {
        drawn = 1;
    }
    setValue(nextDieFace(m_face, drawn));
    if (!m_rotating) {
        m_timer.stop();
    }
}

void RxDice::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height()) - 2;
    const QRectF body((width() - side) / 2, (height() - side) / 2, side, side);
    QLinearGradient shade(body.topLeft(), body.bottomRight());
    shade.setColorAt(0, QColor(255, 255, 255));
    shade.setColorAt(1, QColor(205, 210, 220));
    p.setPen(QPen(QColor(60, 60, 70), 1.5));
    p.setBrush(shade);
    p.drawRoundedRect(body, side * 0.18, side * 0.18);

    // Pip positions on a 3 x 3 grid, row by row: which cells each face uses.
    static constexpr bool kPips[6][9] = {
        {0, 0, 0, 0, 1, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1},
        {1, 0, 1, 0, 0, 0, 1, 0, 1}, {1, 0, 1, 0, 1, 0, 1, 0, 1}, {1, 0, 1, 1, 0, 1, 1, 0, 1},
    };
    const qreal step = side / 4;
    const qreal radius = side * 0.085;
    p.setPen(Qt::NoPen);
    p.setBrush(m_face == 1 ? QColor(190, 20, 30) : QColor(25, 25, 35));
    for (int cell = 0; cell < 9; ++cell) {
        if (kPips[m_face - 1][cell]) {
            const QPointF c(body.left() + step * (cell % 3 + 1), body.top() + step * (cell / 3 + 1));
            p.drawEllipse(c, radius, radius);
        }
    }
}

} // namespace talvora
