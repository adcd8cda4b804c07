#include "capture/TestPatternLayout.h"

#include "capture/MjpegFrame.h"

#include <algorithm>

#include "convert/BitmapInfo.h"

namespace talvora {

namespace {

bool validSize(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxTestPatternEdge && height <= kMaxTestPatternEdge;
}

int bitCount(quint32 compression) {
    switch (compression) {
    case kBiRgb:
        return 24;
    case kFourccYUY2:
    case kFourccUYVY:
        return 16;
    case kFourccY41P:
    case kFourccI420:
        return 12;
    case kFourccYVU9:
        return 9;
    default: // Y8, Y211
        return 8;
    }
}

struct Yuv {
    uchar y, u, v;
};

// Studio-range BT.601, the inverse of what the frame converters apply.
Yuv toYuv(const uchar* rgb) {
    const int r = rgb[0], g = rgb[1], b = rgb[2];
    return {uchar(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16),
            uchar(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128),
            uchar(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128)};
}

// Full-range grey for the Y8 layout, whose bytes are shown as they are.
uchar toGrey(const uchar* rgb) {
    return uchar((77 * rgb[0] + 150 * rgb[1] + 29 * rgb[2]) >> 8);
}

void packPlanar(int width, int height, int divisor, bool uFirst, const uchar* rgb, uchar* out) {
    const int cw = (width + divisor - 1) / divisor;
    const int ch = (height + divisor - 1) / divisor;
    uchar* luma = out;
    uchar* first = out + qsizetype(width) * height;
    uchar* second = first + qsizetype(cw) * ch;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            *luma++ = toYuv(rgb + (qsizetype(y) * width + x) * 3).y;
    }
    for (int cy = 0; cy < ch; ++cy) {
        for (int cx = 0; cx < cw; ++cx) {
            const Yuv p = toYuv(rgb + (qsizetype(cy) * divisor * width + qsizetype(cx) * divisor) * 3);
            first[qsizetype(cy) * cw + cx] = uFirst ? p.u : p.v;
            second[qsizetype(cy) * cw + cx] = uFirst ? p.v : p.u;
        }
    }
}

} // namespace

bool isTestPatternKind(quint32 compression) {
    switch (compression) {
    case kBiRgb:
    case kFourccYUY2:
    case kFourccUYVY:
    case kFourccY41P:
    case kFourccYVU9:
    case kFourccI420:
    case kFourccY8:
    case kFourccY211:
    case kFourccMJPG:
        return true;
    default:
        return false;
    }
}

QString testPatternKindName(quint32 compression) {
    if (compression == kBiRgb)
        return QStringLiteral("RGB");
    if (compression == kFourccY8)
        return QStringLiteral("Y8");
    QString name;
    for (int i = 0; i < 4; ++i)
        name += QChar(char((compression >> (8 * i)) & 0xFF));
    return name;
}

qsizetype testPatternFrameSize(quint32 compression, int width, int height) {
    if (!isTestPatternKind(compression) || !validSize(width, height))
        return 0;
    const qsizetype w = width;
    const qsizetype h = height;
    switch (compression) {
    case kBiRgb:
        return bitmapRowBytes(w * 24) * h;
    case kFourccMJPG: { // delivered decoded, as the V4L2 back end delivers a webcam's frames
        const QSize delivered = mjpegDeliveredSize(width, height);
        return bitmapRowBytes(qsizetype(delivered.width()) * 24) * delivered.height();
    }
    case kFourccYUY2:
    case kFourccUYVY:
        return w * 2 * h;
    case kFourccY41P:
        return ((w + 7) / 8) * 12 * h;
    case kFourccYVU9:
        return w * h + 2 * ((w + 3) / 4) * ((h + 3) / 4);
    case kFourccI420:
        return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    case kFourccY8:
        return w * h;
    default: // Y211
        return ((w + 3) / 4) * 4 * h;
    }
}

QByteArray testPatternFormatBlock(quint32 compression, int width, int height) {
    const qsizetype frameSize = testPatternFrameSize(compression, width, height);
    if (frameSize == 0)
        return {};
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = quint16(bitCount(compression));
    header.biCompression = compression;
    if (compression == kFourccMJPG) {
        const QSize delivered = mjpegDeliveredSize(width, height);
        header.biWidth = delivered.width();
        header.biHeight = delivered.height();
        header.biBitCount = 24;
        header.biCompression = kBiRgb;
    }
    header.biSizeImage = quint32(frameSize);
    QByteArray block(sizeof header, '\0');
    writeBitmapInfoHeader(block.data(), header);
    return block;
}

void packTestPatternFrame(quint32 compression, int width, int height, const uchar* rgb, uchar* out) {
    const auto px = [&](int x, int y) { return rgb + (qsizetype(y) * width + std::min(x, width - 1)) * 3; };
    switch (compression) {
    case kBiRgb: {
        const qsizetype stride = bitmapRowBytes(qsizetype(width) * 24);
        for (int y = 0; y < height; ++y) {
            uchar* row = out + qsizetype(height - 1 - y) * stride; // bottom-up
            for (int x = 0; x < width; ++x) {
                const uchar* p = px(x, y);
                row[3 * x] = p[2];
                row[3 * x + 1] = p[1];
                row[3 * x + 2] = p[0];
            }
            std::fill(row + 3 * qsizetype(width), row + stride, uchar(0));
        }
        return;
    }
    case kFourccYUY2:
    case kFourccUYVY: {
        const bool yuy2 = compression == kFourccYUY2;
        for (int y = 0; y < height; ++y) {
            uchar* row = out + qsizetype(y) * width * 2;
            for (int x = 0; x < width; x += 2) {
                const Yuv a = toYuv(px(x, y));
                const Yuv b = toYuv(px(x + 1, y));
                uchar* g = row + 2 * qsizetype(x);
                if (yuy2) {
                    g[0] = a.y;
                    g[1] = a.u;
                    if (x + 1 < width) {
                        g[2] = b.y;
                        g[3] = a.v;
                    }
                } else {
                    g[0] = a.u;
                    g[1] = a.y;
                    if (x + 1 < width) {
                        g[2] = a.v;
                        g[3] = b.y;
                    }
                }
            }
        }
        return;
    }
    case kFourccY41P: {
        // Rows bottom-up, as the V4L2 back end hands Y41P frames on: the converter keeps the
        // row order, so the picture stands upright in the bottom-up bitmap.
        const qsizetype stride = qsizetype((width + 7) / 8) * 12;
        for (int y = 0; y < height; ++y) {
            uchar* g = out + qsizetype(height - 1 - y) * stride;
            for (int x = 0; x < width; x += 8, g += 12) {
                Yuv p[8];
                for (int i = 0; i < 8; ++i)
                    p[i] = toYuv(px(x + i, y));
                g[0] = p[0].u;
                g[1] = p[0].y;
                g[2] = p[0].v;
                g[3] = p[1].y;
                g[4] = p[4].u;
                g[5] = p[2].y;
                g[6] = p[4].v;
                g[7] = p[3].y;
                g[8] = p[4].y;
                g[9] = p[5].y;
                g[10] = p[6].y;
                g[11] = p[7].y;
            }
        }
        return;
    }
    case kFourccYVU9:
        packPlanar(width, height, 4, false, rgb, out);
        return;
    case kFourccI420:
        packPlanar(width, height, 2, true, rgb, out);
        return;
    case kFourccY8:
        for (qsizetype i = 0; i < qsizetype(width) * height; ++i)
            out[i] = toGrey(rgb + 3 * i);
        return;
    case kFourccY211: {
        // Four pixels share one group: the even pixels' luma, one chroma pair.
        const qsizetype stride = qsizetype((width + 3) / 4) * 4;
        for (int y = 0; y < height; ++y) {
            uchar* g = out + qsizetype(y) * stride;
            for (int x = 0; x < width; x += 4, g += 4) {
                const Yuv a = toYuv(px(x, y));
                const Yuv b = toYuv(px(x + 2, y));
                g[0] = a.y;
                g[1] = a.u;
                g[2] = b.y;
                g[3] = a.v;
            }
        }
        return;
    }
    default:
        return;
    }
}

TestPatternPlanes testPatternPlanes(quint32 compression, int width, int height) {
    const qsizetype w = width;
    TestPatternPlanes p;
    const auto packed = [&](int groupPixels, int groupBytes, qsizetype stride, bool bottomUp) {
        const qsizetype groups = (w + groupPixels - 1) / groupPixels;
        p.plane[0] = {0, stride,  std::min(stride, groups * groupBytes), height, groupPixels, groupBytes,
                      1, bottomUp};
        p.count = 1;
        p.alignX = groupPixels;
    };
    const auto planar = [&](int divisor) {
        const qsizetype cw = (w + divisor - 1) / divisor;
        const int ch = (height + divisor - 1) / divisor;
        p.plane[0] = {0, w, w, height, 1, 1, 1, false};
        p.plane[1] = {w * height, cw, cw, ch, divisor, 1, divisor, false};
        p.plane[2] = {w * height + cw * ch, cw, cw, ch, divisor, 1, divisor, false};
        p.count = 3;
        p.alignX = p.alignY = divisor;
    };
    switch (compression) {
    case kBiRgb:
        packed(1, 3, bitmapRowBytes(w * 24), true);
        p.plane[0].usedBytes = 3 * w;
        break;
    case kFourccYUY2:
    case kFourccUYVY:
        packed(2, 4, w * 2, false); // an odd width's last group is cut short, not clamped
        break;
    case kFourccY41P:
        packed(8, 12, ((w + 7) / 8) * 12, true);
        p.shiftable = width % 8 == 0;
        break;
    case kFourccY211:
        packed(4, 4, ((w + 3) / 4) * 4, false);
        p.shiftable = width % 4 == 0;
        break;
    case kFourccY8:
        packed(1, 1, w, false);
        break;
    case kFourccI420:
        planar(2);
        break;
    case kFourccYVU9:
        planar(4);
        break;
    default: // Motion JPEG goes through the codec with every frame
        p.shiftable = false;
        break;
    }
    return p;
}

qsizetype testPatternBytes(const TestPatternPlanes& p) {
    if (p.count == 0)
        return 0;
    const TestPatternPlane& last = p.plane[std::size_t(p.count - 1)];
    return last.offset + last.stride * last.rows;
}

} // namespace talvora
