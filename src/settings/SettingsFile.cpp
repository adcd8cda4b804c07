#include "settings/SettingsFile.h"

#include "call/UnansweredMessage.h"

#include <algorithm>
#include <limits>

namespace talvora {

bool messageReadsAsKeyword(const QString& message) {
    return !unansweredMessageProblem(message).isEmpty();
}

PhoneSettings loadPhoneSettings(const IniFile& file, const QString& localAddress, QStringList& problems) {
    PhoneSettings s;
    s.ringTone = file.readString(kSettingsSection, QStringLiteral("RingTone"), QString());

    const QString ringTime =
        file.readString(kSettingsSection, QStringLiteral("RingTime"), QStringLiteral("10"));
    int seconds = 10;
    if (!parseSettingsInteger(ringTime, seconds)) {
        problems << QStringLiteral("'%1' is not a valid integer value").arg(ringTime);
        seconds = 10;
    }
    // Milliseconds in a 32-bit field: a huge number of seconds saturates instead of wrapping
    // round to a negative ring time.
    const qint64 ms = qint64(seconds) * 1000;
    s.ringTimeMs =
        int(std::clamp<qint64>(ms, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));

    s.message = file.readString(kSettingsSection, QStringLiteral("Message"), kDefaultMessage);
    if (messageReadsAsKeyword(s.message)) {
        s.message = kDefaultMessage;
    }
    s.callerId = file.readString(kSettingsSection, QStringLiteral("CallerID"), localAddress);

    int mic = 85;
    if (!parseSettingsInteger(file.readString(kSettingsSection, QStringLiteral("micVolume"), QString()),
                              mic)) {
        mic = 85;
    }
    s.micVolume = mic;
    return s;
}

void saveMicVolume(IniFile& file, int micVolume) {
    file.writeString(kSettingsSection, QStringLiteral("micVolume"), QString::number(micVolume));
}

} // namespace talvora
