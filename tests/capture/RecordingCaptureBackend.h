#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <QStringList>

#include "capture/CaptureBackend.h"

namespace talvora::test {

// A back end that records the operations in order and lets the test fire frames and status
// texts and decide which driver indexes exist.
class RecordingCaptureBackend : public CaptureBackend {
public:
    QStringList log;
    QList<int> usableIndexes = {0};
    bool sequenceSetupWorks = true;
    CaptureSettings driverSettings; // what the "driver" reports before the program writes
    CaptureSettings writtenSettings;
    CaptureDriverCaps caps;
    QByteArray format = QByteArray(40, '\x01');
    int previewRateMs = 0;
    int connected = -1;
    bool previewing = false;
    FrameCallback frameCallback;
    StatusCallback statusCallback;

    bool connectDriver(int index) override {
        log << QStringLiteral("connect %1").arg(index);
        connected = usableIndexes.contains(index) ? index : -1;
        return connected >= 0;
    }
    void disconnectDriver() override {
        log << QStringLiteral("disconnect");
        connected = -1;
    }
    bool isConnected() const override { return connected >= 0; }
    bool getSequenceSetup(CaptureSettings& settings) const override {
        settings = driverSettings;
        return connected >= 0 && sequenceSetupWorks;
    }
    bool setSequenceSetup(const CaptureSettings& settings) override {
        writtenSettings = settings;
        return connected >= 0 && sequenceSetupWorks;
    }
    bool getDriverCaps(CaptureDriverCaps& out) const override {
        out = caps;
        return connected >= 0;
    }
    QByteArray videoFormat() const override { return connected >= 0 ? format : QByteArray(); }
    bool setVideoFormat(const QByteArray& block) override {
        log << QStringLiteral("set format %1").arg(block.size());
        return connected >= 0;
    }
    void setPreviewRate(int intervalMs) override {
        log << QStringLiteral("rate %1").arg(intervalMs);
        previewRateMs = intervalMs;
    }
    bool setPreview(bool on) override {
        log << QStringLiteral("preview %1").arg(on ? "on" : "off");
        previewing = on && connected >= 0;
        return previewing == on;
    }
    bool isPreviewing() const override { return previewing; }
    void setFrameCallback(FrameCallback callback) override {
        log << QString::fromLatin1(callback ? "frame callback" : "no frame callback");
        frameCallback = std::move(callback);
    }
    void setStatusCallback(StatusCallback callback) override {
        log << QString::fromLatin1(callback ? "status callback" : "no status callback");
        statusCallback = std::move(callback);
    }
    QList<CaptureControl> controls() const override { return {}; }
    bool setControl(quint32, qint32) override { return false; }
    QList<CaptureInput> inputs() const override { return {}; }
    int currentInput() const override { return 0; }
    bool setInput(int) override { return false; }
    QList<CaptureFormatOption> formatOptions() const override { return {}; }
    CaptureFormatChoice currentFormatChoice() const override { return {}; }
    bool applyFormatChoice(const CaptureFormatChoice&) override { return false; }

    // A frame from the device, on the back end's own thread (the camera thread when it runs
    // on one); returns once it has been handled.
    void fireFrame(const QByteArray& bytes) {
        if (QThread::currentThread() != m_home.thread()) {
            QMetaObject::invokeMethod(
                &m_home, [this, bytes] { fireFrame(bytes); }, Qt::BlockingQueuedConnection);
            return;
        }
        if (frameCallback)
            frameCallback(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size());
    }

private:
    QObject m_home; // on the thread the back end was made on
};

} // namespace talvora::test
