#pragma once

#include "ui/SvgArtwork.h"

#include <QWidget>

namespace talvora {

// A still picture drawn from SVG at the screen's pixel density (the small symbols under the
// level sliders). It takes no input.
class SvgPicture : public QWidget {
    Q_OBJECT
public:
    explicit SvgPicture(const QString& svgResource, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SvgArtwork m_artwork;
};

} // namespace talvora
