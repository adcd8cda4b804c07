// The sizes of the pictures a phone sends of a test camera, at every JPEG quality: what the
// picture budget predicts from, and the check that the scene compresses like a webcam.
// Prints, for each camera option given (default: the scene at 384x288 and 720p, and the bars),
// the picture's size and the mean bytes over one cycle of the scene at qualities 100 to 1.
// With --every-quality first, every quality from 100 to 1 (the table JpegSizeModel.cpp holds).
// Run: build-bench/bench/video-transport/bench_picture_sizes [--every-quality] [OPTION...]
#include "transport/JpegCodec.h"
#include "transport/PeerPicture.h"

#include "transport/CameraPictures.h"

#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList options = app.arguments().mid(1);
    const bool every = !options.isEmpty() && options.front() == QLatin1String("--every-quality");
    if (every)
        options.removeFirst();
    if (options.isEmpty())
        options = {"YUY2:384x288:scene", "MJPG:640x480:scene", "MJPG:1280x720:scene", "YUY2:1280x720:scene",
                   "YUY2:384x288:bars"};
    std::vector<int> qualities = {100, 95, 90, 85, 80, 75, 70, 65, 60, 55, 50,
                                  45,  40, 35, 30, 25, 20, 15, 10, 5,  3,  1};
    if (every) {
        qualities.clear();
        for (int q = 100; q >= 1; --q)
            qualities.push_back(q);
    }
    constexpr int kFrames = 30; // every third frame of the scene's cycle
    for (const QString& option : options) {
        talvora::test::CameraPictures camera(option);
        std::vector<double> sums(qualities.size());
        QSize size;
        for (int f = 0; f < kFrames; ++f) {
            const QImage picture = talvora::pictureForPeer(camera.picture(quint64(f) * 3));
            size = picture.size();
            for (std::size_t i = 0; i < qualities.size(); ++i)
                sums[i] += double(talvora::encodeJpeg(picture, qualities[i]).size());
        }
        std::printf("%s: pictures of %dx%d\n  quality  bytes  share of q100\n", qPrintable(option),
                    size.width(), size.height());
        for (std::size_t i = 0; i < qualities.size(); ++i)
            std::printf("  %7d %6.0f %6.3f\n", qualities[i], sums[i] / kFrames, sums[i] / sums[0]);
    }
    return 0;
}
