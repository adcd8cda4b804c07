#include "ui/RbButton.h"

#include "ui/RoundedShape.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>

namespace talvora {
namespace {

constexpr int kCaptionMargin = 3;
constexpr int kSmallestCaptionPixels = 7;

} // namespace

RbButton::RbButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
    setText(caption);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

void RbButton::setCornerWidth(int widthPx) {
    m_cornerWidth = qMax(0, widthPx);
    update();
}

void RbButton::setColors(const QColor& top, const QColor& bottom, const QColor& border, const QColor& text) {
    m_top = top;
    m_bottom = bottom;
    m_border = border;
    m_text = text;
    update();
}

QSize RbButton::sizeHint() const {
    const QSize t = fontMetrics().size(Qt::TextSingleLine, text());
    return {t.width() + 24, t.height() + 12};
}

QFont RbButton::captionFont() const {
    QFont font = this->font();
    const int room = width() - 2 * kCaptionMargin;
    if (QFontMetrics(font).horizontalAdvance(text()) <= room)
        return font;
    int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    while (pixels > kSmallestCaptionPixels) {
        font.setPixelSize(--pixels);
        if (QFontMetrics(font).horizontalAdvance(text()) <= room)
            break;
    }
    return font;
}

void RbButton::keyPressEvent(QKeyEvent* event) {
    // Space is handled by the base class (press on key down, click on release).
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void RbButton::enterEvent(QEnterEvent* event) {
    m_hover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void RbButton::leaveEvent(QEvent* event) {
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void RbButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor top = m_hover ? m_top.lighter(115) : m_top;
    const QColor bottom = m_hover ? m_bottom.lighter(115) : m_bottom;
    const bool down = isDown();
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    paintRoundedShape(p, {r, m_cornerWidth, 1}, isEnabled() ? m_border : m_border.darker(150),
                      verticalGradient(r, down ? bottom : top, down ? top : bottom));
    if (hasFocus()) {
        // A thin inner ring shows where Enter goes.
        p.setPen(QPen(m_border, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        const qreal radius = qMax(0.0, m_cornerWidth / 2.0 - 3);
        p.drawRoundedRect(r.adjusted(3, 3, -3, -3), radius, radius);
    }
    p.setPen(isEnabled() ? m_text : m_text.darker(160));
    p.setFont(captionFont());
    p.drawText(rect().translated(down ? 1 : 0, down ? 1 : 0), Qt::AlignCenter | Qt::TextSingleLine, text());
}

} // namespace talvora
