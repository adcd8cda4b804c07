#pragma once

#include "ui/SvgArtwork.h"

#include <QStyledItemDelegate>

namespace talvora {

// Draws one address book entry 40 pixels high: the selected entry on a rounded cream-to-amber
// gradient with a grey outline, every entry with the 24x24 contact picture at (7, 7) and its
// whole text in black 16-pixel Verdana from (45, 10), cut with an ellipsis 40 pixels before the
// right edge.
class ContactItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ContactItemDelegate(QObject* parent = nullptr);

    static constexpr int kEntryHeight = 40;
    // The selected entry's gradient, top to bottom.
    static QList<QColor> selectedGradient();

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    SvgArtwork m_picture;
};

} // namespace talvora
