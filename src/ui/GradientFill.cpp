#include "ui/GradientFill.h"

#include "base/Error.h"

#include <QPainter>

#include <cmath>

namespace talvora {

namespace {

int channel(int from, int to, double t) {
    return int(std::trunc(from + (to - from) * t));
}

} // namespace

std::vector<QColor> gradientLines(int length, const QList<QColor>& colors) {
    const int n = int(colors.size()) - 1;
    if (n < 1) {
        throw Error(QStringLiteral("Please specify at least two colors."));
    }
    std::vector<QColor> lines(std::max(length, 0));
    const int segment = int(std::nearbyint(double(length) / n)); // the default mode rounds half to even
    for (int i = 0; i < n; ++i) {
        const int m = i == n - 1 ? length - i * segment - 1 : segment;
        const QColor& a = colors[i];
        const QColor& b = colors[i + 1];
        for (int q = 0; q <= m; ++q) {
            const int p = i * segment + q;
            if (p < 0 || p >= length) {
                continue;
            }
            const double t = m > 0 ? double(q) / m : 0.0;
            lines[p] = QColor(channel(a.red(), b.red(), t), channel(a.green(), b.green(), t),
                              channel(a.blue(), b.blue(), t));
        }
    }
    return lines;
}

void drawGradient(QPainter& painter, const QRect& rect, bool horizontal, const QList<QColor>& colors) {
    const std::vector<QColor> lines = gradientLines(horizontal ? rect.width() : rect.height(), colors);
    painter.save();
    for (int p = 0; p < int(lines.size()); ++p) {
        const QRect line = horizontal ? QRect(rect.left() + p, rect.top(), 1, rect.height())
                                      : QRect(rect.left(), rect.top() + p, rect.width(), 1);
        painter.fillRect(line, lines[p]);
    }
    painter.restore();
}

} // namespace talvora
