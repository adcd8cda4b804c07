#pragma once

#include "ui/SvgArtwork.h"

#include <QAbstractButton>

namespace talvora {

// A command picture of the control panel: a symbol drawn from SVG at the screen's pixel density,
// clicked with the left mouse button, with a hand cursor and its hint on hover. It is a button to
// the keyboard and to screen readers too: Tab reaches it, Space and Enter press it, and a ring
// shows where the focus is. A click of the mouse leaves the focus where it was (in the host field
// mostly), so the typing goes on there.
class PictureButton : public QAbstractButton {
    Q_OBJECT
public:
    PictureButton(const QString& svgResource, QSize size, QWidget* parent = nullptr);

    QSize sizeHint() const override { return m_size; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    SvgArtwork m_artwork;
    QSize m_size;
};

} // namespace talvora
