#pragma once

#include <QByteArray>

namespace talvora {

// The two format operations of the capture window that the frame buffers need: ask the driver
// for a format (it may refuse or choose another) and read back the format block it uses.
class CaptureFormatSource {
public:
    virtual ~CaptureFormatSource() = default;

    // False when no capture window exists; the frame buffers then do nothing.
    virtual bool hasCaptureWindow() const = 0;
    // Asks the driver to use the format of `formatBlock` (a bitmap info block). Result advisory.
    virtual bool setVideoFormat(const QByteArray& formatBlock) = 0;
    // The driver's current format block (bitmap info header, possibly followed by colour masks
    // or a palette); empty when no driver is connected.
    virtual QByteArray videoFormat() const = 0;
};

} // namespace talvora
