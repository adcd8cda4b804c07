#pragma once

#include <QString>

namespace talvora {

// The main window's fields that the video sender reads and writes: FSendVideo, the host of the
// video sender (set by the call session when a call connects) and FJpegQuality.
class VideoSendState {
public:
    virtual ~VideoSendState() = default;

    virtual bool isSendingVideo() const = 0;
    // Text as the user typed it: a dotted address or a host name, resolved for every send.
    virtual QString videoHost() const = 0;
    virtual int jpegQuality() const = 0;
    virtual void setJpegQuality(int quality) = 0;
};

// The same fields as plain values, for owners that keep them in one place.
class VideoSendFields : public VideoSendState {
public:
    bool sending = false;
    QString host;
    int quality = 100;

    bool isSendingVideo() const override { return sending; }
    QString videoHost() const override { return host; }
    int jpegQuality() const override { return quality; }
    void setJpegQuality(int q) override { quality = q; }
};

} // namespace talvora
