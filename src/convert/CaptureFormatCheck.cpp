#include "convert/CaptureFormatCheck.h"

#include "convert/BitmapFile.h"
#include "convert/BitmapInfo.h"

#include <cstdlib>

namespace talvora {

namespace {

QString compressionName(quint32 code) {
    QString name;
    for (int i = 0; i < 4; ++i) {
        const char c = char(code >> (8 * i));
        if (c < 0x20 || c > 0x7e) {
            return QString::number(code);
        }
        name += QLatin1Char(c);
    }
    return QStringLiteral("\"%1\"").arg(name);
}

CaptureFormatCheck dropped(CaptureFormatCheck check, QString problem) {
    check.kind = FormatKind::None;
    check.problem = std::move(problem);
    return check;
}

} // namespace

CaptureFormatCheck checkCaptureFormat(const QByteArray& block) {
    CaptureFormatCheck check;
    if (block.size() < kBitmapInfoHeaderBytes) {
        return dropped(check,
                       QStringLiteral("The camera's format block has only %1 bytes.").arg(block.size()));
    }
    if (block.size() > kMaxFormatBlockBytes) {
        return dropped(
            check, QStringLiteral("The camera's format block is too large (%1 bytes).").arg(block.size()));
    }
    const BitmapInfoHeader h = readBitmapInfoHeader(block.constData());
    check.width = h.biWidth;
    check.height = h.biHeight;
    const FormatKind kind = formatKindOf(h.biCompression);
    if (kind == FormatKind::None) {
        return dropped(check,
                       QStringLiteral("The camera's format %1 is neither RGB nor a supported YUV layout.")
                           .arg(compressionName(h.biCompression)));
    }
    // Both signs of the height are valid for RGB (top-down bitmaps are negative); YUV frames are
    // always top-down and say so with a positive height.
    const qint64 rows = std::llabs(qint64(h.biHeight));
    if (h.biWidth <= 0 || rows == 0 || h.biWidth > kMaxFrameSide || rows > kMaxFrameSide ||
        qint64(h.biWidth) * rows > kMaxFramePixels || (kind != FormatKind::RGB && h.biHeight < 0)) {
        return dropped(check, QStringLiteral("The camera's frame size %1 x %2 is out of range.")
                                  .arg(h.biWidth)
                                  .arg(h.biHeight));
    }
    if (kind != FormatKind::RGB) {
        check.kind = kind;
        check.frameBytes = yuvFrameBytes(kind, h.biWidth, h.biHeight);
        return check;
    }
    const int bits = h.biBitCount;
    const bool depthOk = h.biCompression == kBiBitfields ? (bits == 16 || bits == 32)
                                                         : (bits == 1 || bits == 4 || bits == 8 ||
                                                            bits == 16 || bits == 24 || bits == 32);
    if (!depthOk) {
        return dropped(check, QStringLiteral("The camera's RGB format has %1 bits per pixel.").arg(bits));
    }
    const qint64 needed = bitmapRowBytes(qint64(h.biWidth) * bits) * rows;
    // biSizeImage may be 0 for uncompressed bitmaps; a driver may pad a little, never a lot.
    const qint64 stated = h.biSizeImage == 0 ? needed : qint64(h.biSizeImage);
    if (stated < needed || stated > 2 * needed + 4096) {
        return dropped(check,
                       QStringLiteral("The camera's RGB format states %1 bytes of pixels where %2 x %3 at "
                                      "%4 bits need %5.")
                           .arg(stated)
                           .arg(h.biWidth)
                           .arg(h.biHeight)
                           .arg(bits)
                           .arg(needed));
    }
    check.kind = FormatKind::RGB;
    check.frameBytes = stated;
    return check;
}

} // namespace talvora
