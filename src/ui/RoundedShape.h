#pragma once

#include <QBrush>
#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QRectF>

namespace talvora {

// The rounded rectangle the skinned widgets share: a border ring of `borderWidthPx` around a
// face, both with corners rounded by an ellipse `cornerWidthPx` wide.
struct RoundedShape {
    QRectF bounds;
    int cornerWidthPx = 0;
    int borderWidthPx = 0;
};

inline QLinearGradient verticalGradient(const QRectF& r, const QColor& top, const QColor& bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

inline void paintRoundedShape(QPainter& p, const RoundedShape& s, const QColor& border, const QBrush& face) {
    const qreal radius = s.cornerWidthPx / 2.0;
    p.setPen(Qt::NoPen);
    if (s.borderWidthPx > 0) {
        p.setBrush(border);
        p.drawRoundedRect(s.bounds, radius, radius);
    }
    const qreal inset = s.borderWidthPx;
    const QRectF inner = s.bounds.adjusted(inset, inset, -inset, -inset);
    // The face's corners follow the border's inner edge.
    const qreal innerRadius = qMax<qreal>(0, radius - inset);
    p.setBrush(face);
    p.drawRoundedRect(inner, innerRadius, innerRadius);
}

} // namespace talvora
