#pragma once

#include <QPixmap>
#include <QWidget>

namespace talvora {

// A command picture of the control panel: a 48x48 symbol the user clicks, with a hand cursor
// and its hint on hover.
class PictureButton : public QWidget {
    Q_OBJECT
public:
    PictureButton(const QString& svgResource, QSize size, QWidget* parent = nullptr);

signals:
    void clicked();
    void pressed(QMouseEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_picture;
    bool m_down = false;
};

// Renders an SVG resource at a size, for pictures and the idle picture.
QImage renderSvg(const QString& resource, QSize size);

} // namespace talvora
