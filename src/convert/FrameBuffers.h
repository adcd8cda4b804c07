#pragma once

#include "base/ReentrancyGuard.h"
#include "convert/CaptureFormatCheck.h"
#include "convert/CaptureFormatSource.h"
#include "convert/YUVConverts.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace talvora {

class MessageService;

// The frame state of the capture: the driver's format, the in-memory BMP file every frame is
// written into (file header, FrameInfo, pixel area) and the bitmap it is decoded into. One per
// capture; used on the main thread only (frame handlers, the format dialog, start and stop).
class FrameBuffers {
public:
    // The warning for a bitmap the decoder rejects goes through `messages`.
    explicit FrameBuffers(MessageService& messages);

    FrameBuffers(const FrameBuffers&) = delete;
    FrameBuffers& operator=(const FrameBuffers&) = delete;

    // Asks the driver for 384 x 288 at 24 bits, then adopts what it reports (readCaptureFormat).
    // Does nothing without a capture window. Throws Error when the driver has no format.
    void initFrameBuffers(CaptureFormatSource& source);

    // Re-reads the driver's format and rebuilds FrameInfo and the BMP file; run again after the
    // driver's format dialog. Does nothing without a capture window. Throws Error (the "WebCam not
    // found" text) when the driver reports no format block. A block that is unusable or hostile
    // (too short, absurd sizes, an image size that does not fit the width and height) does not
    // throw: its frames are dropped and formatProblem() says why.
    void readCaptureFormat(CaptureFormatSource& source);

    // Releases everything; frames are dropped until the buffers are set up again.
    void freeFrameBuffers();

    // One frame of `size` bytes from the driver: the picture (Format_RGB32, the format's
    // width by its height, top row first), or a null image when the frame is dropped (no usable
    // format, or fewer bytes than one frame of the format). A bitmap the decoder rejects shows
    // "Invalid Video Format Selected. Please Select RGB." (never twice at once) and the picture
    // is drawn from the last one decoded. The result shares its pixels with FrameBitmap until
    // either is changed.
    QImage frameToBitmap(const uchar* data, qsizetype size);

    FormatKind formatKind() const { return m_kind; }
    // Why frames are dropped; empty when the format is usable (or none was read yet).
    const QString& formatProblem() const { return m_check.problem; }
    const QByteArray& captureFormat() const { return m_captureFormat; }
    const QByteArray& frameInfo() const { return m_frameInfo; }
    const QByteArray& frameStream() const { return m_frameStream; }
    // Offset of the pixel area (FramePixels) in frameStream(); -1 when there is none.
    qsizetype framePixelsOffset() const { return m_framePixels; }
    const QImage& frameBitmap() const { return m_frameBitmap; }

private:
    void rebuildFrameStream(qint64 pixelAreaBytes);
    void warnInvalidFormat();
    void drawFrameBitmap(QImage& picture) const;

    MessageService& m_messages;
    QByteArray m_captureFormat;
    QByteArray m_frameInfo;
    QByteArray m_frameStream;
    qsizetype m_framePixels = -1;
    QImage m_frameBitmap;
    FormatKind m_kind = FormatKind::None;
    CaptureFormatCheck m_check;
    // The warning box runs a nested event loop in which further frames arrive; they must not
    // open a second box on top of it.
    ReentrancyGuard m_warning;
};

} // namespace talvora
