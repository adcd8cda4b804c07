// A camera's compressed frame from the fuzzer, laid out as the V4L2 back end does it: the decode
// must neither crash nor write outside the bitmap, whatever the frame holds.
// Input: 2 bytes little-endian width and 2 bytes height of the negotiated format (taken modulo
// 1024, plus one, to keep each run short), then the frame.
#include "capture/V4L2Formats.h"

#include <QByteArray>

#include <linux/videodev2.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const int width = ((data[0] | (data[1] << 8)) % 1024) + 1;
    const int height = ((data[2] | (data[3] << 8)) % 1024) + 1;
    const talvora::V4L2FrameGeometry geometry{V4L2_PIX_FMT_MJPEG, width, height, 0, 0};
    // Exactly the bitmap's size, so that the sanitizer sees any write past it.
    QByteArray bitmap(talvora::deliveredFrameSize(geometry), '\0');
    talvora::layoutFrame(geometry, data + 4, qsizetype(size - 4), reinterpret_cast<uchar*>(bitmap.data()),
                         bitmap.size());
    return 0;
}
