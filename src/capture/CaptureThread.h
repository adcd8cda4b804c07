#pragma once

#include "capture/CaptureBackend.h"

#include "base/WorkerThread.h"

#include <QObject>

#include <functional>
#include <memory>
#include <utility>

namespace talvora {

// A capture back end that lives on a thread of its own, the camera thread, as webcam capture
// does in a video mixer: the device is opened, streamed and read there, and its frames are
// handed to the frame callback there, so that the conversion and the encoding that follow run
// there too and the window's thread only paints. The back end is made on the camera thread by
// `make` and every call from another thread runs there in turn, waiting for the frame being
// handled (the user's dialogs and the start; never per frame). Status texts and "a camera
// appeared" come back on the thread that made this object; frames stay on the camera thread.
//
// Nothing on the camera thread may wait for the window's thread: frame and status callbacks
// hand their results over and return.
class CaptureThread final : public CaptureBackend {
public:
    using Factory = std::function<std::unique_ptr<CaptureBackend>()>;

    explicit CaptureThread(const Factory& make);
    // The back end is destroyed on its thread (after the frame in hand), then the thread ends.
    ~CaptureThread() override;

    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

    // False when `make` gave no back end: nothing can be captured.
    bool valid() const { return m_inner != nullptr; }
    QThread& thread() { return m_thread.thread(); }

    bool connectDriver(int index) override;
    void disconnectDriver() override;
    bool isConnected() const override;
    bool getSequenceSetup(CaptureSettings& settings) const override;
    bool setSequenceSetup(const CaptureSettings& settings) override;
    bool getDriverCaps(CaptureDriverCaps& caps) const override;
    QByteArray videoFormat() const override;
    bool setVideoFormat(const QByteArray& formatBlock) override;
    void setPreviewRate(int intervalMs) override;
    bool setPreview(bool on) override;
    bool isPreviewing() const override;
    void setFrameCallback(FrameCallback callback) override;
    void setStatusCallback(StatusCallback callback) override;
    void setDeviceAppearedCallback(DeviceAppearedCallback callback) override;
    QList<CaptureControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;
    QList<CaptureInput> inputs() const override;
    QList<CaptureDevice> devices() const override;
    QString devicePath(int index) const override;
    int currentInput() const override;
    bool setInput(int index) override;
    QList<CaptureFormatOption> formatOptions() const override;
    CaptureFormatChoice currentFormatChoice() const override;
    bool applyFormatChoice(const CaptureFormatChoice& choice) override;

private:
    template <class Work> auto onCameraThread(Work&& work) const {
        return m_thread.call(std::forward<Work>(work));
    }

    WorkerThread m_thread;
    QObject m_home; // lives on the making thread: status texts come back to it
    std::unique_ptr<CaptureBackend> m_inner;
};

} // namespace talvora
