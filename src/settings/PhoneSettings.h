#pragma once

#include <QString>

namespace talvora {

// The message sent back to a caller who is not answered or finds us busy, when none is set or
// the one set would read as a call signal.
inline QString defaultUnansweredMessage() {
    return QStringLiteral("Unanswered");
}

// The phone's settings, as "Settings.ini" keeps them (SettingsStore reads and writes them). The
// call session reads the first four at the moment it uses them, so a change takes effect for the
// next call at once; the microphone level and the camera are the ones used at start-up.
struct PhoneSettings {
    QString ringTone;       // path of the ring tone file; empty for none
    int ringTimeMs = 10000; // how long an incoming call rings; 0 rings forever
    QString unansweredMessage = defaultUnansweredMessage();
    QString callerId;     // sent with our call requests
    int micVolume = 85;   // microphone level restored at start-up
    QString cameraDevice; // the camera chosen in the source dialog (its node); empty for none
    // A call that cannot be encrypted (an older peer, keys that could not be agreed) is ended.
    bool privateCallsOnly = false;

    bool operator==(const PhoneSettings&) const = default;
};

} // namespace talvora
