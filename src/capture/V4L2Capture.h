#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

#include "capture/CaptureBackend.h"
#include "capture/V4L2Device.h"
#include "capture/V4L2Formats.h"
#include "capture/V4L2Stream.h"

namespace talvora {

// The capture back end for V4L2 cameras: driver index N is /dev/videoN. This class opens the
// node and negotiates the format and the frame rate; V4L2Stream moves the frames (on the main
// thread, from the event loop), V4L2Controls reads the source dialog's controls and inputs, and
// V4L2FormatEnumeration the format dialog's choices.
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

    bool getSequenceSetup(CaptureSettings& settings) const override;
    bool setSequenceSetup(const CaptureSettings& settings) override;
    bool getDriverCaps(CaptureDriverCaps& caps) const override;

    QByteArray videoFormat() const override;
    bool setVideoFormat(const QByteArray& formatBlock) override;

    void setPreviewRate(int intervalMs) override;
    bool setPreview(bool on) override;
    bool isPreviewing() const override { return m_stream.isStreaming(); }

    void setFrameCallback(FrameCallback callback) override { m_frameCallback = std::move(callback); }
    void setStatusCallback(StatusCallback callback) override { m_statusCallback = std::move(callback); }
    void setDeviceAppearedCallback(DeviceAppearedCallback callback) override;

    QList<CaptureControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;
    QList<CaptureInput> inputs() const override;
    QList<CaptureDevice> devices() const override;
    QString devicePath(int index) const override { return path(index); }
    int currentInput() const override;
    bool setInput(int index) override;

    QList<CaptureFormatOption> formatOptions() const override;
    CaptureFormatChoice currentFormatChoice() const override;
    bool applyFormatChoice(const CaptureFormatChoice& choice) override;

private:
    // Whether a negotiated format is announced at once (connecting announces it after the
    // connection).
    enum class Report { Status, Quiet };
    // The size the program asks for first, and so the default mode's.
    static constexpr int kDefaultWidth = 384;
    static constexpr int kDefaultHeight = 288;

    void readFrameInterval();
    bool startInDriverFormat();
    bool canStream();
    void reportBusy();
    QString formatText() const;
    bool negotiate(quint32 pixelFormat, int width, int height, Report report = Report::Status);
    bool startStreaming();
    void applyFrameInterval();
    void deliverFrame(const uchar* data, qsizetype size);
    void loseDevice(int error);
    void status(StatusId id, const QString& text);
    QList<FrameSizeRange> frameSizes(quint32 pixelFormat) const;
    QString path(int index) const { return m_pathPattern.arg(index); }

    std::shared_ptr<V4L2Device> m_device;
    QString m_pathPattern;
    int m_fd = -1;
    int m_index = -1;
    QString m_cardName;
    QList<quint32> m_devicePixelFormats;
    CaptureSettings m_captureSettings;
    V4L2FrameGeometry m_geometry;
    QByteArray m_formatBlock;
    FrameInterval m_frameInterval{1, 30};
    int m_previewRateMs = 33;
    bool m_canSetFrameInterval = false;
    V4L2Stream m_stream;

    FrameCallback m_frameCallback;
    StatusCallback m_statusCallback;
    DeviceAppearedCallback m_deviceAppeared;
};

} // namespace talvora
