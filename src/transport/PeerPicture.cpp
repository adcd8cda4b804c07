#include "transport/PeerPicture.h"

#include <vector>

namespace talvora {

namespace {

// Averages n x n blocks of an RGB888 picture whose sides are multiples of n.
QImage averageBlocks(const QImage& rgb, int n) {
    const int width = rgb.width() / n;
    const int height = rgb.height() / n;
    QImage out(width, height, QImage::Format_RGB888);
    if (out.isNull())
        return out;
    const int channels = width * 3;
    const quint32 area = quint32(n * n);
    std::vector<quint32> sums(std::size_t(channels) * std::size_t(n));
    for (int y = 0; y < height; ++y) {
        // Column sums of the block's n rows, then n neighbouring columns of each channel.
        std::fill(sums.begin(), sums.end(), 0u);
        for (int r = 0; r < n; ++r) {
            const uchar* in = rgb.constScanLine(y * n + r);
            for (int i = 0; i < channels * n; ++i)
                sums[std::size_t(i)] += in[i];
        }
        uchar* row = out.scanLine(y);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                quint32 sum = 0;
                for (int k = 0; k < n; ++k)
                    sum += sums[std::size_t((x * n + k) * 3 + c)];
                row[x * 3 + c] = uchar((sum + area / 2) / area);
            }
        }
    }
    return out;
}

} // namespace

QImage pictureForPeer(const QImage& frame) {
    if (frame.isNull() || frame.width() <= kMaxPeerPictureWidth)
        return frame;
    const QImage rgb =
        frame.format() == QImage::Format_RGB888 ? frame : frame.convertToFormat(QImage::Format_RGB888);
    const int n = rgb.width() / kMaxPeerPictureWidth;
    if (rgb.width() == n * kMaxPeerPictureWidth && rgb.height() % n == 0)
        return averageBlocks(rgb, n);
    const int height =
        std::max(1, int((qint64(rgb.height()) * kMaxPeerPictureWidth + rgb.width() / 2) / rgb.width()));
    return rgb.scaled(kMaxPeerPictureWidth, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB888);
}

} // namespace talvora
