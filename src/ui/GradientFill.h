#pragma once

#include <QColor>
#include <QList>
#include <QRect>

#include <vector>

class QPainter;

namespace talvora {

// A linear gradient drawn as one-pixel lines through n + 1 colour stops over a length L: the
// segment length is S = L / n (rounded half to even); segment i draws m + 1 lines from position
// i*S, where m = S but L - i*S - 1 for the last segment, each in c[i] + (c[i+1] - c[i]) * q / m
// per channel, truncated toward zero. Neighbouring segments share their boundary line, drawn
// last in the next segment's first colour. Raises Error with fewer than two colours.
//
// The colour of each line 0 .. L-1 (later lines of the drawing order win); a segment with m = 0
// draws its single line in its first colour, and lines past L are not drawn.
std::vector<QColor> gradientLines(int length, const QList<QColor>& colors);

// Fills `rect` with those lines: horizontal false draws rows top to bottom, true columns left to
// right.
void drawGradient(QPainter& painter, const QRect& rect, bool horizontal, const QList<QColor>& colors);

} // namespace talvora
