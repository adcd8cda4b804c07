#include "ui/ContactItemDelegate.h"

#include "ui/GradientFill.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace talvora {

namespace {

constexpr int kCorner = 15; // width and height of the ellipse that rounds a corner
const QColor kOutline(197, 197, 197);

} // namespace

ContactItemDelegate::ContactItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_picture(QStringLiteral(":/icons/contact.svg")) {}

QList<QColor> ContactItemDelegate::selectedGradient() {
    return {QColor(255, 245, 221), QColor(255, 245, 221), QColor(255, 210, 94)};
}

QSize ContactItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(option.rect.width(), kEntryHeight);
}

void ContactItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QRect r = option.rect;
    painter->save();
    if (option.state & QStyle::State_Selected) {
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(r), kCorner / 2.0, kCorner / 2.0);
        painter->setClipPath(rounded);
        drawGradient(*painter, r, false, selectedGradient());
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(kOutline, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -1.5, -1.5), kCorner / 2.0, kCorner / 2.0);
        painter->setClipping(false);
    } else {
        painter->fillRect(r, Qt::white);
    }
    m_picture.paint(*painter, QRect(r.topLeft() + QPoint(7, 7), QSize(24, 24)));

    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(16);
    painter->setFont(font);
    painter->setPen(Qt::black);
    const QRect textRect(QPoint(r.left() + 45, r.top() + 10), QPoint(r.right() - 40, r.bottom()));
    // Elide from a bounded prefix: an entry may be a few thousand characters long.
    const QString text = index.data(Qt::DisplayRole).toString().left(512);
    const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown);

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.initFrom(option.widget);
        focus.rect = r;
        focus.backgroundColor = Qt::white;
        const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
    }
    painter->restore();
}

} // namespace talvora
