#include "settings/SettingsStore.h"

#include "base/Error.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace talvora {

namespace {

const SettingsKeyInfo& infoOf(SettingsKey key) {
    return *std::find_if(kSettingsKeys.begin(), kSettingsKeys.end(),
                         [key](const SettingsKeyInfo& info) { return info.key == key; });
}

} // namespace

QString settingsKeyName(SettingsKey key) {
    return QString::fromLatin1(infoOf(key).name);
}

QString settingsText(const PhoneSettings& s, SettingsKey key) {
    switch (key) {
    case SettingsKey::RingTone:
        return s.ringTone;
    case SettingsKey::RingTime:
        return QString::number(s.ringTimeMs / 1000);
    case SettingsKey::Message:
        return s.unansweredMessage;
    case SettingsKey::CallerId:
        return s.callerId;
    case SettingsKey::MicVolume:
        return QString::number(s.micVolume);
    case SettingsKey::CameraDevice:
        return s.cameraDevice;
    case SettingsKey::PrivateCallsOnly:
        return QString::number(int(s.privateCallsOnly));
    }
    return {};
}

QString takeSettingsText(PhoneSettings& s, SettingsKey key, const QString& text) {
    switch (key) {
    case SettingsKey::RingTone:
        s.ringTone = text;
        return {};
    case SettingsKey::RingTime: {
        int seconds = 0;
        if (!parseSettingsInteger(text, seconds)) {
            s.ringTimeMs = PhoneSettings{}.ringTimeMs;
            return QStringLiteral("'%1' is not a valid integer value").arg(text);
        }
        // Milliseconds in a 32-bit field: a huge number of seconds saturates instead of wrapping
        // round to a negative ring time.
        const qint64 ms = qint64(seconds) * 1000;
        s.ringTimeMs =
            int(std::clamp<qint64>(ms, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
        return {};
    }
    case SettingsKey::Message:
        s.unansweredMessage = text;
        return {};
    case SettingsKey::CallerId:
        s.callerId = text;
        return {};
    case SettingsKey::MicVolume:
        // A level that is no integer is quietly the default.
        if (!parseSettingsInteger(text, s.micVolume)) {
            s.micVolume = PhoneSettings{}.micVolume;
        }
        return {};
    case SettingsKey::CameraDevice:
        s.cameraDevice = text;
        return {};
    case SettingsKey::PrivateCallsOnly: {
        // Anything but a non-zero integer leaves plain calls allowed, as they are by default.
        int on = 0;
        s.privateCallsOnly = parseSettingsInteger(text, on) && on != 0;
        return {};
    }
    }
    return {};
}

PhoneSettings SettingsStore::load(const QString& localAddress, QStringList& problems) const {
    const IniFile file(m_path);
    PhoneSettings s;
    for (const SettingsKeyInfo& info : kSettingsKeys) {
        const QString fallback =
            info.key == SettingsKey::CallerId ? localAddress : settingsText(PhoneSettings{}, info.key);
        const QString problem = takeSettingsText(
            s, info.key, file.readString(kSettingsSection, QString::fromLatin1(info.name), fallback));
        if (!problem.isEmpty()) {
            problems << problem;
        }
    }
    return s;
}

void SettingsStore::saveDialogValues(const PhoneSettings& settings) const {
    QDir().mkpath(QFileInfo(m_path).absolutePath()); // the first write creates the file
    IniFile file(m_path);
    for (SettingsKey key :
         {SettingsKey::RingTone, SettingsKey::RingTime, SettingsKey::Message, SettingsKey::CallerId}) {
        file.writeString(kSettingsSection, settingsKeyName(key), settingsText(settings, key));
    }
    // Our own key appears once the user turns it on: a file that never had it stays as it was.
    const QString privateOnly = settingsKeyName(SettingsKey::PrivateCallsOnly);
    if (settings.privateCallsOnly || !file.readString(kSettingsSection, privateOnly, QString()).isNull()) {
        file.writeString(kSettingsSection, privateOnly,
                         settingsText(settings, SettingsKey::PrivateCallsOnly));
    }
}

void SettingsStore::saveMicVolume(int micVolume) const {
    PhoneSettings s;
    s.micVolume = micVolume;
    saveOne(s, SettingsKey::MicVolume);
}

QString SettingsStore::cameraDevice() const {
    return IniFile(m_path).readString(kSettingsSection, settingsKeyName(SettingsKey::CameraDevice),
                                      settingsText(PhoneSettings{}, SettingsKey::CameraDevice));
}

void SettingsStore::saveCameraDevice(const QString& devicePath) const {
    PhoneSettings s;
    s.cameraDevice = devicePath;
    saveOne(s, SettingsKey::CameraDevice);
}

void SettingsStore::saveOne(const PhoneSettings& settings, SettingsKey key) const {
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        throw Error(QStringLiteral("Unable to write to %1").arg(m_path));
    }
    IniFile file(m_path);
    file.writeString(kSettingsSection, settingsKeyName(key), settingsText(settings, key));
}

} // namespace talvora
