#pragma once

#include <QByteArray>
#include <QSize>
#include <QtGlobal>

namespace talvora {

// Decoding of the compressed frames UVC cameras send (Motion JPEG: one JPEG picture per frame,
// usually without Huffman tables, which then are the standard ones).

// The largest compressed frame edge accepted; the receiver's picture limit.
inline constexpr int kMaxJpegFrameEdge = 4096;

// Frames this wide and wider are decoded at half their size by the decoder's own DCT scaling,
// which has SIMD and skips three quarters of the inverse transform: pictures for the peer are at
// most 640 pixels wide, and the preview panel is smaller still, so the full size would only cost.
inline constexpr int kMjpegHalfSizeWidth = 1280;

// The size a camera frame of `width` x `height` is delivered at once decoded (the decoder rounds
// a half size up).
QSize mjpegDeliveredSize(int width, int height);

enum class MjpegDecodeStatus {
    Ok,
    Corrupt,   // not a JPEG picture, truncated or damaged data: the frame is dropped
    WrongSize, // a picture of another size than the negotiated one
    Refused,   // too large, or not a one- or three-component picture
};

// Decodes one frame into a 24-bit bitmap of mjpegDeliveredSize(width, height): B G R pixels,
// rows bottom-up `dstStride` bytes apart (bytes past the delivered width * 3 are left alone).
// The picture must be exactly `width` x `height`. On any status but Ok, `dst` may hold part of
// a picture.
MjpegDecodeStatus decodeMjpegFrame(const uchar* data, qsizetype size, int width, int height, uchar* dst,
                                   qsizetype dstStride);

// Compresses a top-down RGB picture (3 bytes a pixel, rows `width` * 3 bytes) as a camera
// does: baseline JPEG without Huffman tables. Empty when the library refuses.
QByteArray encodeMjpegFrame(const uchar* rgb, int width, int height, int quality);

} // namespace talvora
