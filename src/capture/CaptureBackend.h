#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

#include "capture/CaptureSettings.h"

namespace talvora {

// A camera the user can choose: its driver index, its node and the name its driver gives it.
struct CaptureDevice {
    int index = -1;
    QString path;
    QString name;
    bool operator==(const CaptureDevice&) const = default;
};

// One capture device as the capture window sees it: connect a driver index, read and write the
// capture settings and the format block, switch the preview on, and report frames and status
// texts through callbacks. Two implementations: V4L2Capture (the real cameras) and TestCamera
// (a synthetic pattern). Everything runs on the main thread; callbacks are called from the
// event loop, never from inside one of these calls.
class CaptureBackend {
public:
    // Status ids passed with the texts (informative only; the label shows every text).
    enum class StatusId { Connected = 1, Format = 2, Error = 3, DeviceLost = 4 };

    // Callbacks must not throw. The frame's bytes are laid out as the current format block describes
    // (bottom-up rows for RGB blocks and Y41P, top-down for the other YUV FOURCCs). Valid only
    // during the call.
    using FrameCallback = std::function<void(const uchar* data, qsizetype size)>;
    // A status text of the back end's own (device name, format, errors); the id is informative.
    using StatusCallback = std::function<void(StatusId statusId, const QString& text)>;
    // A camera may have been plugged in: connecting again may now find one.
    using DeviceAppearedCallback = std::function<void()>;

    virtual ~CaptureBackend() = default;

    // Opens driver `index` (0..9), releasing any driver connected before. False when there is
    // no usable capture device with that index.
    virtual bool connectDriver(int index) = 0;
    virtual void disconnectDriver() = 0;
    virtual bool isConnected() const = 0;

    // False when no driver is connected.
    virtual bool getSequenceSetup(CaptureSettings& settings) const = 0;
    virtual bool setSequenceSetup(const CaptureSettings& settings) = 0;
    virtual bool getDriverCaps(CaptureDriverCaps& caps) const = 0;

    // The current format block (bitmap info header, with colour masks for BI_BITFIELDS); empty
    // when no driver is connected.
    virtual QByteArray videoFormat() const = 0;
    // Asks for the format of a bitmap info block; the back end may choose another. True when
    // the device accepted a format (read it back with videoFormat()).
    virtual bool setVideoFormat(const QByteArray& formatBlock) = 0;

    virtual void setPreviewRate(int intervalMs) = 0;
    // Starts or stops the frame callbacks. False when no driver is connected or the device
    // could not start.
    virtual bool setPreview(bool on) = 0;
    virtual bool isPreviewing() const = 0;

    virtual void setFrameCallback(FrameCallback callback) = 0;
    virtual void setStatusCallback(StatusCallback callback) = 0;
    // Back ends whose devices cannot come and go never call it.
    virtual void setDeviceAppearedCallback(DeviceAppearedCallback callback) { (void)callback; }

    // What the source dialog offers: picture controls and inputs.
    virtual QList<CaptureControl> controls() const = 0;
    // Applies one control at once. False when the device refused it.
    virtual bool setControl(quint32 id, qint32 value) = 0;
    virtual QList<CaptureInput> inputs() const = 0;
    // Every camera that could be connected, the connected one included, by driver index; empty
    // for back ends with only one device.
    virtual QList<CaptureDevice> devices() const { return {}; }
    // The node of driver `index`, as remembered in the settings; empty without nodes.
    virtual QString devicePath(int index) const {
        (void)index;
        return {};
    }
    virtual int currentInput() const = 0;
    virtual bool setInput(int index) = 0;

    // What the format dialog offers: every pixel format the frame converters read, with its
    // frame sizes and frame intervals.
    virtual QList<CaptureFormatOption> formatOptions() const = 0;
    virtual CaptureFormatChoice currentFormatChoice() const = 0;
    // Switches to a choice of formatOptions(), restarting the stream when it runs.
    virtual bool applyFormatChoice(const CaptureFormatChoice& choice) = 0;
};

} // namespace talvora
