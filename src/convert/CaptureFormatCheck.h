#pragma once

#include "convert/YUVConverts.h"

#include <QByteArray>
#include <QString>

namespace talvora {

// Limits on what a driver's format block may ask for before anything is allocated: 8K video
// fits, a block claiming 100000 x 100000 pixels or gigabytes of pixel data does not.
inline constexpr int kMaxFrameSide = 16384;
inline constexpr qint64 kMaxFramePixels = qint64(8192) * 4608;
inline constexpr qsizetype kMaxFormatBlockBytes = 64 * 1024;

// What a capture format block means for the frame buffers, checked as input from a stranger.
struct CaptureFormatCheck {
    // FormatKind::None when frames of this format are to be dropped; `problem` then says why.
    FormatKind kind = FormatKind::None;
    int width = 0;
    int height = 0; // as the block says: negative for a top-down RGB bitmap
    // FormatKind::RGB: bytes copied from each frame into the pixel area, which has exactly this size
    // (biSizeImage, or the size the width, height and depth need when biSizeImage is 0).
    // YUV kinds: bytes of one source frame.
    qint64 frameBytes = 0;
    QString problem;
};

CaptureFormatCheck checkCaptureFormat(const QByteArray& block);

} // namespace talvora
