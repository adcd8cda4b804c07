#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include "convert/BitmapInfo.h"

namespace talvora {

// Pure translations between V4L2 pixel formats and the bitmap info blocks the frame converters
// read. The converters take RGB bitmap pixels (bottom-up rows, each a whole number of 32-bit
// words) and seven YUV layouts named by FOURCC (rows packed without padding, top-down except
// Y41P, whose converter keeps the row order and so takes them bottom-up); V4L2 hands out
// top-down rows of `bytesperline` bytes. The back end therefore lays each frame out
// anew unless the driver's rows already match (see layoutFrame).

// The largest picture edge accepted from a driver; larger values are treated as garbage.
inline constexpr int kMaxFrameEdge = 8192;

// The pixel formats the back end can deliver, in the order it prefers them when the requested
// one is not offered: RGB first (no conversion), then the YUV layouts the converters read, then
// the compressed ones (MJPEG, JPEG), which the back end decodes into 24-bit bitmaps itself.
const QList<quint32>& supportedPixelFormats();
bool isSupportedPixelFormat(quint32 pixelFormat);
bool isRgbPixelFormat(quint32 pixelFormat);
bool isCompressedPixelFormat(quint32 pixelFormat);

// The smallest compressed frame worth decoding (start and end markers).
inline constexpr qsizetype kMinJpegFrameBytes = 4;

// A readable name: the FOURCC of the format block ("YUY2") or an RGB description ("RGB 24").
QString pixelFormatName(quint32 pixelFormat);

// The V4L2 pixel format a bitmap info block asks for: the FOURCC's V4L2 twin, or 0 for RGB
// (any of the RGB formats will do) and for FOURCCs V4L2 cannot produce.
quint32 pixelFormatForCompression(quint32 biCompression);

// Chooses the pixel format for a request among those a device enumerates.
quint32 choosePixelFormat(quint32 biCompression, const QList<quint32>& devicePixelFormats);

// One frame-size entry of VIDIOC_ENUM_FRAMESIZES: a discrete size (min == max, step 0) or a
// stepwise/continuous range.
struct FrameSizeRange {
    int minWidth = 0, maxWidth = 0, stepWidth = 0;
    int minHeight = 0, maxHeight = 0, stepHeight = 0;
};

struct FrameSize {
    int width = 0;
    int height = 0;
    bool operator==(const FrameSize&) const = default;
};

// The size closest to the wanted one (sum of the edge differences; ties go to the larger).
// Returns the wanted size unchanged when `ranges` is empty.
FrameSize nearestFrameSize(const QList<FrameSizeRange>& ranges, int width, int height);

// The negotiated format as the driver reported it.
struct V4L2FrameGeometry {
    quint32 pixelFormat = 0;
    int width = 0;
    int height = 0;
    quint32 bytesPerLine = 0;
    quint32 sizeImage = 0;
};

// Whether the driver's numbers describe a picture this program can handle at all.
bool isPlausibleGeometry(const V4L2FrameGeometry& geometry);

// The format block describing frames as the back end delivers them: BI_RGB (or BI_BITFIELDS
// with three colour masks for RGB 5-6-5) for the RGB formats, BI_RGB 24 for the compressed ones
// (of mjpegDeliveredSize: frames 1280 wide and more come at half size), the FOURCC
// for the YUV formats, and for any other pixel format its own FOURCC with the driver's image size, which the
// converters do not read (its frames are dropped).
QByteArray formatBlockFor(const V4L2FrameGeometry& geometry);

// Bytes of one delivered frame (biSizeImage of formatBlockFor); 0 for implausible geometry.
qsizetype deliveredFrameSize(const V4L2FrameGeometry& geometry);

// Bytes the driver must fill for one frame of this geometry; 0 for implausible geometry.
qsizetype requiredCaptureSize(const V4L2FrameGeometry& geometry);

// True when the driver's bytes are already laid out as delivered (no copy needed).
bool isDeliveredAsCaptured(const V4L2FrameGeometry& geometry);

// Lays one captured frame out as formatBlockFor describes it. `dst` holds deliveredFrameSize
// bytes. False, leaving `dst` untouched, when `srcSize` is short of requiredCaptureSize or the
// format is not one the back end delivers. A compressed frame is decoded into `dst`; one that
// is damaged, truncated or of the wrong size is refused (`dst` may then hold part of it).
bool layoutFrame(const V4L2FrameGeometry& geometry, const uchar* src, qsizetype srcSize, uchar* dst,
                 qsizetype dstSize);

} // namespace talvora
