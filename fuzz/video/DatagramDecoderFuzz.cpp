// Every video datagram is a stranger's bytes: feed arbitrary ones to the decoder the receiver
// uses and check that it either refuses them or returns a picture within the limits.
#include "transport/JpegCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A datagram never exceeds what one IPv4 datagram carries.
    if (size > 65507) {
        return -1;
    }
    const auto header = talvora::probeJpeg(data, qsizetype(size));
    QString reason;
    const QImage picture = talvora::decodeJpeg(data, qsizetype(size), &reason);
    if (picture.isNull()) {
        if (reason.isEmpty()) {
            std::abort(); // every refusal says why
        }
        return 0;
    }
    if (!header || picture.width() != header->width || picture.height() != header->height ||
        picture.width() > talvora::kMaxPictureSidePx || picture.height() > talvora::kMaxPictureSidePx ||
        qint64(picture.width()) * picture.height() > talvora::kMaxPicturePixels ||
        picture.format() != QImage::Format_RGB888) {
        std::abort();
    }
    return 0;
}
