#include "capture/TestPattern.h"

#include "capture/MjpegFrame.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "convert/BitmapInfo.h"

namespace talvora {

namespace {

constexpr int kTestJpegQuality = 80;

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

int patternOffset(quint64 frameNumber, const TestPatternSettings& s) {
    return s.moving ? int(frameNumber % 100000) * 4 : 0;
}

// The picture of a `width` x `height` frame, seen from (shiftX, shiftY), drawn into an area of
// `drawWidth` x `drawHeight` pixels: a larger area holds the picture's continuation.
struct Canvas {
    int width, height;
    int drawWidth, drawHeight;
    int shiftX, shiftY;
};

void drawRgb(const Canvas& canvas, quint64 frameNumber, const TestPatternSettings& s, uchar* rgb) {
    static const uchar bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                     {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
    const int width = canvas.width;
    const int height = canvas.height;
    quint32 noise = quint32(frameNumber) * 2654435761u + 1u;
    const int amplitude = std::clamp(s.noiseLevel, 0, 100) * 64 / 100;
    const int brightness = std::clamp(s.brightness, -64, 64);
    for (int y = 0; y < canvas.drawHeight; ++y) {
        for (int x = 0; x < canvas.drawWidth; ++x, rgb += 3) {
            const int px = x + canvas.shiftX;
            int c[3];
            switch (s.pattern) {
            case TestPatternSettings::Gradient:
                c[0] = (px % width) * 255 / std::max(1, width - 1);
                c[1] = y * 255 / std::max(1, height - 1);
                c[2] = 255 - c[0];
                break;
            case TestPatternSettings::Checkerboard: {
                const bool light = ((px / 32) + ((y + canvas.shiftY) / 32)) % 2 == 0;
                c[0] = c[1] = c[2] = light ? 220 : 30;
                break;
            }
            default: {
                const int bar = int((qint64(px) * 8 / width) % 8);
                c[0] = bars[bar][0];
                c[1] = bars[bar][1];
                c[2] = bars[bar][2];
                break;
            }
            }
            for (int& channel : c) {
                channel += brightness;
                if (amplitude > 0) {
                    noise ^= noise << 13;
                    noise ^= noise >> 17;
                    noise ^= noise << 5;
                    channel += int(noise % quint32(2 * amplitude + 1)) - amplitude;
                }
            }
            for (int i = 0; i < 3; ++i)
                rgb[i] = uchar(std::clamp(c[i], 0, 255));
        }
    }
}

// The chroma of a block is the chroma of its top-left pixel.
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

void pack(quint32 compression, int width, int height, const uchar* rgb, uchar* out) {
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

// One plane of a frame layout, as rows of pixel groups.
struct Plane {
    qsizetype offset = 0;    // of the plane's first row in the frame
    qsizetype stride = 0;    // bytes from one row to the next
    qsizetype usedBytes = 0; // bytes of a row that carry pixels; the rest is zero padding
    int rows = 0;
    int groupPixels = 1; // pixels across that share one group of bytes
    int groupBytes = 1;
    int lines = 1; // picture lines per row (vertical subsampling)
    bool bottomUp = false;
};

struct Planes {
    std::array<Plane, 3> plane;
    int count = 0;
    // A shift that splits no group, and a width whose last group holds no clamped pixels.
    int alignX = 1;
    int alignY = 1;
    bool shiftable = true;
};

Planes planesOf(quint32 compression, int width, int height) {
    const qsizetype w = width;
    Planes p;
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

qsizetype bytesOf(const Planes& p) {
    const Plane& last = p.plane[std::size_t(p.count - 1)];
    return last.offset + last.stride * last.rows;
}

// Beyond this the wide picture is not worth its memory, and frames are drawn whole.
constexpr qsizetype kMaxWidePictureBytes = qsizetype(48) << 20;

// A Motion JPEG frame decoded as the V4L2 back end decodes a webcam's: into a bottom-up bitmap.
bool decodeMjpeg(const QByteArray& jpeg, int width, int height, uchar* frame) {
    return decodeMjpegFrame(reinterpret_cast<const uchar*>(jpeg.constData()), jpeg.size(), width, height,
                            frame, qsizetype(bitmapRowBytes(qint64(width) * 24))) == MjpegDecodeStatus::Ok;
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
    case kFourccMJPG: // delivered decoded, as the V4L2 back end delivers a webcam's frames
        return bitmapRowBytes(w * 24) * h;
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
    header.biBitCount = quint16(compression == kFourccMJPG ? 24 : bitCount(compression));
    header.biCompression = compression == kFourccMJPG ? kBiRgb : compression;
    header.biSizeImage = quint32(frameSize);
    QByteArray block(sizeof header, '\0');
    writeBitmapInfoHeader(block.data(), header);
    return block;
}

bool renderTestPattern(quint32 compression, int width, int height, quint64 frameNumber,
                       const TestPatternSettings& settings, QByteArray& scratch, uchar* frame,
                       qsizetype frameSize) {
    const qsizetype expected = testPatternFrameSize(compression, width, height);
    if (expected == 0 || frameSize != expected)
        return false;
    const qsizetype rgbBytes = qsizetype(width) * height * 3;
    if (scratch.size() != rgbBytes)
        scratch.resize(rgbBytes);
    auto* rgb = reinterpret_cast<uchar*>(scratch.data());
    const int offset = patternOffset(frameNumber, settings);
    drawRgb({width, height, width, height, offset, offset}, frameNumber, settings, rgb);
    if (compression == kFourccMJPG) {
        // The whole way of a webcam's frame: compressed without Huffman tables, then decoded.
        return decodeMjpeg(encodeMjpegFrame(rgb, width, height, kTestJpegQuality), width, height, frame);
    }
    pack(compression, width, height, rgb, frame);
    return true;
}

bool TestPatternRenderer::render(quint32 compression, int width, int height, quint64 frameNumber,
                                 const TestPatternSettings& settings, uchar* frame, qsizetype frameSize) {
    const qsizetype expected = testPatternFrameSize(compression, width, height);
    if (expected == 0 || frameSize != expected)
        return false;
    if (compression == kFourccMJPG && settings.noiseLevel <= 0)
        return renderMjpeg(width, height, frameNumber, settings, frame);
    const Planes planes = planesOf(compression, width, height);
    if (!planes.shiftable || settings.noiseLevel > 0) // noise differs in every frame
        return renderTestPattern(compression, width, height, frameNumber, settings, m_scratch, frame,
                                 frameSize);

    // The bars and the gradient repeat every frame width across; the checkerboard every two
    // squares, both across and down, as it moves diagonally.
    const bool checkerboard = settings.pattern == TestPatternSettings::Checkerboard;
    const int periodX = !settings.moving ? 0 : checkerboard ? 64 : width;
    const int periodY = settings.moving && checkerboard ? 64 : 0;
    const int offset = patternOffset(frameNumber, settings);
    const int shiftX = periodX > 0 ? offset % periodX : 0;
    const int shiftY = periodY > 0 ? offset % periodY : 0;
    const int wideWidth = width + periodX + planes.alignX;
    const int wideHeight = height + periodY;
    const Planes widePlanes = planesOf(compression, wideWidth, wideHeight);
    if (shiftY % planes.alignY != 0 || bytesOf(widePlanes) > kMaxWidePictureBytes)
        return renderTestPattern(compression, width, height, frameNumber, settings, m_scratch, frame,
                                 frameSize);

    const Key key{compression, width, height, settings.pattern, settings.brightness, settings.moving};
    if (!(key == m_key)) {
        forget(key);
        m_wide.assign(std::size_t(planes.alignX), QByteArray());
    }
    // A shift that does not fall on a group boundary is cut out of a picture drawn from the
    // shift's remainder onwards.
    const int phase = shiftX % planes.alignX;
    const int start = shiftX - phase;
    QByteArray& wide = m_wide[std::size_t(phase)];
    if (wide.isEmpty()) {
        QByteArray rgb(qsizetype(wideWidth) * wideHeight * 3, Qt::Uninitialized);
        auto* pixels = reinterpret_cast<uchar*>(rgb.data());
        drawRgb({width, height, wideWidth, wideHeight, phase, 0}, frameNumber, settings, pixels);
        wide = QByteArray(bytesOf(widePlanes), Qt::Uninitialized);
        pack(compression, wideWidth, wideHeight, pixels, reinterpret_cast<uchar*>(wide.data()));
    }

    const auto* source = reinterpret_cast<const uchar*>(wide.constData());
    for (int i = 0; i < planes.count; ++i) {
        const Plane& to = planes.plane[std::size_t(i)];
        const Plane& from = widePlanes.plane[std::size_t(i)];
        const qsizetype column = qsizetype(start / to.groupPixels) * to.groupBytes;
        const int firstRow = shiftY / to.lines;
        for (int row = 0; row < to.rows; ++row) {
            const int toRow = to.bottomUp ? to.rows - 1 - row : row;
            const int fromRow = from.bottomUp ? from.rows - 1 - (row + firstRow) : row + firstRow;
            uchar* out = frame + to.offset + qsizetype(toRow) * to.stride;
            std::memcpy(out, source + from.offset + qsizetype(fromRow) * from.stride + column,
                        size_t(to.usedBytes));
            std::fill(out + to.usedBytes, out + to.stride, uchar(0));
        }
    }
    return true;
}

void TestPatternRenderer::forget(const Key& key) {
    m_key = key;
    m_wide.clear();
    m_jpegs.clear();
    m_jpegBytes = 0;
}

bool TestPatternRenderer::renderMjpeg(int width, int height, quint64 frameNumber,
                                      const TestPatternSettings& settings, uchar* frame) {
    const Key key{kFourccMJPG, width, height, settings.pattern, settings.brightness, settings.moving};
    if (!(key == m_key))
        forget(key);
    // The moving picture repeats once it has moved by its period (the frame width across, two
    // checkerboard squares diagonally), so each shift within the period is compressed once, as
    // long as the compressed frames fit the budget; the decode, the phone's own work with a
    // webcam's frames, runs for every frame.
    const int offset = patternOffset(frameNumber, settings);
    const int period = settings.pattern == TestPatternSettings::Checkerboard ? 64 : width;
    const int shift = offset % period;
    auto cached = m_jpegs.find(shift);
    if (cached == m_jpegs.end()) {
        const qsizetype rgbBytes = qsizetype(width) * height * 3;
        if (m_scratch.size() != rgbBytes)
            m_scratch.resize(rgbBytes);
        auto* rgb = reinterpret_cast<uchar*>(m_scratch.data());
        drawRgb({width, height, width, height, offset, offset}, frameNumber, settings, rgb);
        QByteArray jpeg = encodeMjpegFrame(rgb, width, height, kTestJpegQuality);
        if (m_jpegBytes + jpeg.size() > kMaxCachedJpegBytes)
            return decodeMjpeg(jpeg, width, height, frame);
        m_jpegBytes += jpeg.size();
        cached = m_jpegs.emplace(shift, std::move(jpeg)).first;
    }
    return decodeMjpeg(cached->second, width, height, frame);
}

} // namespace talvora
