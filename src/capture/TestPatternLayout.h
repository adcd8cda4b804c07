#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

namespace talvora {

// The eight frame layouts of the synthetic camera: 24-bit RGB (bottom-up bitmap rows) and the
// seven YUV FOURCCs (rows without padding, top-down except Y41P, which is bottom-up like the
// V4L2 back end's), named by their biCompression value; and Motion JPEG, delivered decoded as
// the V4L2 back end delivers a webcam's frames (large ones at half size, see MjpegFrame.h).
bool isTestPatternKind(quint32 compression);
// "RGB", "YUY2", ..., "Y8", "Y211", "MJPG".
QString testPatternKindName(quint32 compression);
// Bytes of one frame as delivered; 0 for an unknown kind or a size outside
// 1..kMaxTestPatternEdge.
qsizetype testPatternFrameSize(quint32 compression, int width, int height);
// The bitmap info block (40 bytes) describing such frames; empty when the kind is unknown.
QByteArray testPatternFormatBlock(quint32 compression, int width, int height);

inline constexpr int kMaxTestPatternEdge = 4096;

// Lays a top-down RGB picture (3 bytes a pixel, rows width * 3 bytes) out as one frame of an
// uncompressed layout. The chroma of a block of pixels is the chroma of its top-left pixel.
void packTestPatternFrame(quint32 compression, int width, int height, const uchar* rgb, uchar* out);

// One plane of a frame layout, as rows of pixel groups.
struct TestPatternPlane {
    qsizetype offset = 0;    // of the plane's first row in the frame
    qsizetype stride = 0;    // bytes from one row to the next
    qsizetype usedBytes = 0; // bytes of a row that carry pixels; the rest is zero padding
    int rows = 0;
    int groupPixels = 1; // pixels across that share one group of bytes
    int groupBytes = 1;
    int lines = 1; // picture lines per row (vertical subsampling)
    bool bottomUp = false;
};

struct TestPatternPlanes {
    std::array<TestPatternPlane, 3> plane;
    int count = 0;
    // A shift that splits no group, and a width whose last group holds no clamped pixels.
    int alignX = 1;
    int alignY = 1;
    // False where a frame cannot be cut out of a wider one (Motion JPEG, widths that end in a
    // part group).
    bool shiftable = true;
};

TestPatternPlanes testPatternPlanes(quint32 compression, int width, int height);
// Bytes of a frame made of these planes.
qsizetype testPatternBytes(const TestPatternPlanes& planes);

} // namespace talvora
