#include "ui/TrackBar.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionSlider>

namespace talvora {

TrackBar::TrackBar(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    setInvertedAppearance(true); // minimum at the top
    setInvertedControls(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, [this] {
        if (!m_settingFromCode) {
            emit changed();
        }
    });
}

void TrackBar::setPosition(int position) {
    m_settingFromCode = true;
    setValue(qBound(minimum(), position, maximum()));
    m_settingFromCode = false;
    update();
    emit changed();
}

void TrackBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    const qreal grooveWidth = 6;
    const qreal thumbHeight = 12;
    const qreal grooveX = r.center().x() - grooveWidth / 2 + (tickPosition() == TicksLeft ? 4 : -4);
    const qreal top = thumbHeight / 2;
    const qreal bottom = r.height() - thumbHeight / 2;

    // Ticks beside the groove.
    if (tickInterval() > 0 && maximum() > minimum()) {
        p.setPen(QColor(255, 255, 255, 170));
        for (int v = minimum(); v <= maximum(); v += tickInterval()) {
            const qreal y = top + (bottom - top) * (v - minimum()) / qreal(maximum() - minimum());
            if (tickPosition() == TicksLeft) {
                p.drawLine(QPointF(grooveX - 9, y), QPointF(grooveX - 4, y));
            } else {
                p.drawLine(QPointF(grooveX + grooveWidth + 4, y), QPointF(grooveX + grooveWidth + 9, y));
            }
        }
    }

    QLinearGradient groove(0, top, 0, bottom);
    groove.setColorAt(0, QColor(20, 40, 60));
    groove.setColorAt(1, QColor(120, 210, 255));
    p.setPen(QColor(0, 0, 0, 120));
    p.setBrush(groove);
    p.drawRoundedRect(QRectF(grooveX, top, grooveWidth, bottom - top), 3, 3);

    const qreal fraction = maximum() > minimum() ? (value() - minimum()) / qreal(maximum() - minimum()) : 0;
    const qreal y = top + (bottom - top) * fraction;
    QLinearGradient thumb(0, y - thumbHeight / 2, 0, y + thumbHeight / 2);
    thumb.setColorAt(0, QColor(255, 255, 255));
    thumb.setColorAt(1, QColor(170, 190, 205));
    p.setBrush(thumb);
    p.setPen(hasFocus() ? QColor(255, 255, 255) : QColor(40, 60, 80));
    p.drawRoundedRect(QRectF(grooveX - 7, y - thumbHeight / 2, grooveWidth + 14, thumbHeight), 4, 4);
}

} // namespace talvora
