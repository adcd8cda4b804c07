#pragma once

#include <QByteArray>
#include <QList>
#include <QSocketNotifier>
#include <QString>

#include <memory>
#include <vector>

#include "base/ReentrancyGuard.h"
#include "capture/CaptureBackend.h"
#include "capture/V4L2Device.h"
#include "capture/V4L2Formats.h"

namespace talvora {

// The capture back end for V4L2 cameras: driver index N is /dev/videoN. Frames are streamed
// through memory-mapped buffers; the descriptor is watched by a QSocketNotifier, so the frame
// callback runs on the main thread from the event loop. A handler that runs a nested event loop
// (a message box) keeps receiving frames: the buffer being handled is returned to the driver
// only when its callback is over, and the others keep circulating.
class V4L2Capture final : public CaptureBackend {
public:
    // `pathPattern` has %1 for the driver index.
    explicit V4L2Capture(std::shared_ptr<V4L2Device> device,
                         QString pathPattern = QStringLiteral("/dev/video%1"));
    ~V4L2Capture() override;

    V4L2Capture(const V4L2Capture&) = delete;
    V4L2Capture& operator=(const V4L2Capture&) = delete;

    bool connectDriver(int index) override;
    void disconnectDriver() override;
    bool isConnected() const override { return m_fd >= 0; }

    bool getSequenceSetup(CaptureParms& parms) const override;
    bool setSequenceSetup(const CaptureParms& parms) override;
    bool getDriverCaps(CaptureDriverCaps& caps) const override;

    QByteArray videoFormat() const override;
    bool setVideoFormat(const QByteArray& formatBlock) override;

    void setPreviewRate(int intervalMs) override;
    bool setPreview(bool on) override;
    bool isPreviewing() const override { return m_streaming; }

    void setFrameCallback(FrameCallback callback) override { m_frameCallback = std::move(callback); }
    void setStatusCallback(StatusCallback callback) override { m_statusCallback = std::move(callback); }

    QList<CaptureControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;
    QList<CaptureInput> inputs() const override;
    int currentInput() const override;
    bool setInput(int index) override;

    QList<CaptureFormatOption> formatOptions() const override;
    CaptureFormatChoice currentFormatChoice() const override;
    bool applyFormatChoice(const CaptureFormatChoice& choice) override;

    // Buffers requested from the driver; fewer than kMinBuffers granted is a failure.
    static constexpr unsigned kRequestedBuffers = 4;
    static constexpr unsigned kMinBuffers = 3;
    // The largest frame the back end allocates for; a driver claiming more is refused.
    static constexpr qsizetype kMaxFrameBytes = qsizetype(128) * 1024 * 1024;

private:
    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
        bool queued = false;
        QByteArray laidOut; // the frame in the delivered layout, when it differs from the driver's
    };

    bool negotiate(quint32 pixelFormat, int width, int height);
    bool startStreaming();
    void stopStreaming();
    void releaseBuffers();
    void applyFrameInterval();
    void readFrames();
    bool dequeueOne();
    bool queueBuffer(quint32 index);
    void loseDevice(int error);
    void status(int id, const QString& text);
    QList<FrameSizeRange> frameSizes(quint32 pixelFormat) const;
    QList<FrameInterval> frameIntervals(quint32 pixelFormat, int width, int height) const;
    QList<quint32> enumeratePixelFormats() const;
    QString path(int index) const { return m_pathPattern.arg(index); }

    std::shared_ptr<V4L2Device> m_device;
    QString m_pathPattern;
    int m_fd = -1;
    int m_index = -1;
    QString m_cardName;
    QList<quint32> m_devicePixelFormats;
    CaptureParms m_parms;
    V4L2FrameGeometry m_geometry;
    QByteArray m_formatBlock;
    FrameInterval m_frameInterval{1, 30};
    int m_previewRateMs = 33;
    bool m_canSetFrameInterval = false;

    std::vector<Buffer> m_buffers;
    QSocketNotifier* m_notifier = nullptr;
    bool m_streaming = false;
    bool m_buffersRequested = false;
    // Bumped whenever the buffers are released, so that a callback that stopped or restarted
    // the stream from a nested event loop does not hand a stale buffer back to the driver.
    quint64 m_generation = 0;
    // Inside readFrames: the notifier that called it must not be deleted under it.
    ReentrancyGuard m_dispatch;
    quint64 m_lastFrameUs = 0;

    FrameCallback m_frameCallback;
    StatusCallback m_statusCallback;
};

} // namespace talvora
