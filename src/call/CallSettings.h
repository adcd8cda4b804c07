#pragma once

#include <QString>

namespace talvora {

// The settings the call session reads at the moment it uses them. The main window loads them at
// start-up and the settings dialog changes them; a change takes effect for the next call at once.
struct CallSettings {
    QString ringTone;     // path of the ring tone file; empty for none
    int ringTimeMs = 10000; // how long an incoming call rings, milliseconds; 0 rings forever
    QString unansweredMessage = QStringLiteral("Unanswered"); // sent to callers not answered or finding us busy
    QString callerId;                               // sent with our call requests
};

} // namespace talvora
