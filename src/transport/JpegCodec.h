#pragma once

#include <QImage>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace talvora {

// The largest picture a received datagram may describe. A 64 KB datagram can claim 65,535 by
// 65,535 pixels in its header; anything beyond these bounds is refused before a pixel buffer is
// allocated.
inline constexpr int kMaxPictureSidePx = 4096;
// One limit: 4096 by 4096 is the largest picture accepted.
inline constexpr qint64 kMaxPicturePixels = qint64(kMaxPictureSidePx) * kMaxPictureSidePx;

// A progressive picture is decoded scan by scan; a hostile one can repeat tiny scans to keep the
// decoder busy. Our own encoder writes one scan per picture (baseline).
inline constexpr int kMaxProgressiveScans = 100;

// Qualities the encoder accepts; the caller's value is clamped into this range.
inline constexpr int kMinJpegQuality = 1;
inline constexpr int kMaxJpegQuality = 100;

struct JpegHeaderInfo {
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    bool arithmetic = false;
};

enum class JpegEncodeStatus {
    Ok,
    TooLarge, // the compressed picture did not fit into the output buffer
    Failed,   // the picture or the library refused (text in `error`)
};

struct JpegEncodeResult {
    JpegEncodeStatus status = JpegEncodeStatus::Failed;
    qsizetype size = 0; // bytes written when Ok
    QString error;
};

// Compresses a picture (QImage::Format_RGB32 or Format_RGB888 as it is; other formats are
// converted first) as a
// baseline JFIF file with three components: the library's defaults, then the integer DCT
// (JDCT_ISLOW), then `quality` (clamped to 1..100) with baseline-compatible tables forced. The file is
// written straight into `out`; when it needs more than `capacity` bytes the result is TooLarge
// and the bytes in `out` are not a picture.
JpegEncodeResult encodeJpeg(const QImage& picture, int quality, uchar* out, qsizetype capacity);

// The same into a new byte array; throws talvora::Error when the picture cannot be encoded.
QByteArray encodeJpeg(const QImage& picture, int quality);

// Reads only the header of a JPEG file. Empty when the bytes do not start a readable JPEG file.
std::optional<JpegHeaderInfo> probeJpeg(const uchar* data, qsizetype size);

// Decodes a received picture into QImage::Format_RGB32, the screen's own format, with the
// integer DCT (as accurate as the floating one here, and faster) and block smoothing. Everything here is
// treated as hostile: a picture wider or higher than kMaxPictureSidePx, with other than one or three
// components, or with more than kMaxProgressiveScans scans is refused before any pixel buffer is
// allocated; any library error or warning (a truncated or corrupt file) drops the picture. A
// dropped picture is a null QImage, with the reason in `*reason` when given.
QImage decodeJpeg(const uchar* data, qsizetype size, QString* reason = nullptr);

} // namespace talvora
