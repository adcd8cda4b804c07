#pragma once

#include <QString>

namespace talvora {

// What the call session needs of the phone around it: the host field, the caller line, the
// remote picture, the taskbar and where pictures go. The phone implements it and turns each
// into a signal that the main window shows.
class CallView {
public:
    virtual ~CallView() = default;

    // The peer address as typed in the host field (may be the placeholder, or empty).
    virtual QString hostText() const = 0;
    virtual void setHostText(const QString& text) = 0;
    // Puts the keyboard focus into the host field when it can take the focus.
    virtual void focusHost() = 0;
    // The line across the top of the video area: "<caller ID> hailing..." or empty.
    virtual void setCallerLine(const QString& text) = 0;
    // Replaces the remote picture with the idle picture.
    virtual void showIdlePicture() = 0;
    // Flashes the program's taskbar entry once (QApplication::alert on the main window).
    virtual void flashTaskbar() = 0;
    // Where outgoing camera pictures go while sending is on.
    virtual void setVideoDestination(const QString& host) = 0;
    // Camera pictures go to the peer from now on, or no longer.
    virtual void setSendingVideo(bool on) { (void)on; }
};

// The placeholder of the host field; it never names a peer.
inline QString hostPlaceholderText() {
    return QStringLiteral("Hailing Frequency...");
}

} // namespace talvora
