#pragma once

#include "settings/IniFile.h"

#include <QString>
#include <QStringList>

namespace talvora {

// The values the phone keeps in "Settings.ini", section "Settings".
struct PhoneSettings {
    QString ringTone;       // "RingTone": path of the ring tone file; empty for none
    int ringTimeMs = 10000; // "RingTime": seconds in the file, milliseconds here
    QString message;        // "Message": sent back to an unanswered or busy caller
    QString callerId;       // "CallerID": sent with our call requests
    int micVolume = 85;     // "micVolume": microphone level restored at start-up
};

inline const QString kSettingsSection = QStringLiteral("Settings");
inline const QString kDefaultMessage = QStringLiteral("Unanswered");

// True for a message the calling peer would read as a keyword instead of a text: "Accept",
// "Cancel", "Calling", or anything containing "|".
bool messageReadsAsKeyword(const QString& message);

// Reads the five keys in their order. `localAddress` is the default caller ID. Problems that
// the user must hear about (a "RingTime" that is not an integer) are appended to `problems` with
// their exact text; the key then takes its default and reading goes on, so one bad value never
// leaves the phone without its other settings.
PhoneSettings loadPhoneSettings(const IniFile& file, const QString& localAddress, QStringList& problems);

// Writes "micVolume" as decimal text (the only key written at shut-down).
void saveMicVolume(IniFile& file, int micVolume);

} // namespace talvora
