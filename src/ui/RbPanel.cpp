#include "ui/RbPanel.h"

#include "ui/RoundedShape.h"

#include <QPainter>

namespace talvora {

RbPanel::RbPanel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void RbPanel::setCornerWidth(int widthPx) {
    m_cornerWidth = qMax(0, widthPx);
    update();
}

void RbPanel::setBorderWidth(int widthPx) {
    m_borderWidth = qMax(0, widthPx);
    update();
}

void RbPanel::setColor(const QColor& c) {
    m_color = c;
    update();
}

void RbPanel::setBorderColor(const QColor& c) {
    m_borderColor = c;
    update();
}

void RbPanel::setOuterColor(const QColor& c) {
    m_outerColor = c;
    update();
}

void RbPanel::setGradient(const QColor& top, const QColor& bottom) {
    m_gradientTop = top;
    m_gradientBottom = bottom;
    update();
}

void RbPanel::setAntialiased(bool on) {
    m_antialiased = on;
    update();
}

void RbPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, m_antialiased);
    p.fillRect(rect(), m_outerColor);
    RoundedShape shape{QRectF(rect()), m_cornerWidth, m_borderWidth};
    QBrush face = m_color;
    if (hasGradient()) {
        face = verticalGradient(rect(), m_gradientTop, m_gradientBottom);
    }
    paintRoundedShape(p, shape, m_borderColor, face);
}

} // namespace talvora
