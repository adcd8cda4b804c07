#include "ui/SvgPicture.h"

#include <QPainter>

namespace talvora {

SvgPicture::SvgPicture(const QString& svgResource, QWidget* parent)
    : QWidget(parent), m_artwork(svgResource) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SvgPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    m_artwork.paint(p, rect());
}

} // namespace talvora
