#pragma once

#include "ui/SvgArtwork.h"

#include <QImage>
#include <QWidget>

class QMouseEvent;

namespace talvora {

// The remote picture area (Image1): shows one picture scaled to the largest size that fits with
// its aspect ratio kept, centred on black (see fitPicture). It grows and shrinks with its
// parent's layout, so a maximised window shows a larger picture.
class PictureView : public QWidget {
    Q_OBJECT
public:
    // The idle picture's size.
    static constexpr int kIdleWidth = 800;
    static constexpr int kIdleHeight = 600;

    // Starts with the artwork idle picture on show.
    explicit PictureView(QWidget* parent = nullptr);

    // The picture on show (shared, not copied) and where it is drawn in this widget.
    void setPicture(const QImage& picture);
    const QImage& picture() const { return m_picture; }
    QRect pictureRect() const;

    // The idle picture (Image12): shown at start and when the local user ends a call.
    void setIdlePicture(const QImage& picture) { m_idle = picture; }
    const QImage& idlePicture() const { return m_idle; }
    void showIdlePicture() { setPicture(m_idle); }

    // The artwork idle picture, rendered at 800x600 from the program's resources.
    static QImage renderIdlePicture();

signals:
    // Every mouse press on the picture, whichever button. The event arrives ignored: a slot that
    // handles it (the main window's drag) accepts it; otherwise it goes on to the parent widget.
    void mousePressed(QMouseEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage m_picture;
    // The picture as drawn: scaled to the area it fills, in the raster engine's own format. Made
    // at the first paint of each picture and again when the area changes.
    QImage m_display;
    QImage m_idle;
    // The artwork idle picture is drawn from its SVG at the size it is shown and the screen's
    // pixel density, not enlarged from its 800x600 bitmap; the bitmap is what a snapshot copies.
    SvgArtwork m_idleArtwork;
    qint64 m_idleArtworkKey = 0;
};

} // namespace talvora
