#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

class QPainter;

namespace talvora {

// Artwork from an SVG resource, drawn at the pixel density of the device it is painted on: on a
// 1.5x or 2x screen a bitmap made at 1x and enlarged goes soft and shows stair-steps. The last
// rendering is kept, so painting again at the same size and density costs one blit.
class SvgArtwork {
public:
    explicit SvgArtwork(QString resource) : m_resource(std::move(resource)) {}

    // Draws the artwork filling `target` (logical pixels) at the painter's device pixel ratio.
    void paint(QPainter& painter, const QRect& target) const;
    // The artwork `size` logical pixels large for a device with `dpr` pixels per logical pixel.
    QPixmap pixmap(QSize size, qreal dpr) const;

private:
    QString m_resource;
    mutable QPixmap m_cache;
};

// Renders an SVG resource into a bitmap of exactly `pixelSize` pixels (transparent where the
// artwork is; fully transparent for a resource that does not load).
QImage renderSvg(const QString& resource, QSize pixelSize);

} // namespace talvora
