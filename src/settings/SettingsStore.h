#pragma once

#include "settings/PhoneSettings.h"

#include <QString>
#include <QStringList>

#include <array>

namespace talvora {

// The keys of "Settings.ini", all in one section, in the order the phone reads them.
enum class SettingsKey { RingTone, RingTime, Message, CallerId, MicVolume, CameraDevice, PrivateCallsOnly };

inline const QString kSettingsSection = QStringLiteral("Settings");

struct SettingsKeyInfo {
    SettingsKey key;
    const char* name; // as written in the file
};

inline constexpr std::array<SettingsKeyInfo, 7> kSettingsKeys{{
    {SettingsKey::RingTone, "RingTone"},
    {SettingsKey::RingTime, "RingTime"}, // whole seconds in the file
    {SettingsKey::Message, "Message"},
    {SettingsKey::CallerId, "CallerID"},
    {SettingsKey::MicVolume, "micVolume"},
    {SettingsKey::CameraDevice, "CameraDevice"},         // the device node, /dev/videoN
    {SettingsKey::PrivateCallsOnly, "PrivateCallsOnly"}, // 1 or 0
}};

QString settingsKeyName(SettingsKey key);

// The text a value of `settings` is written as. The defaults are those of a PhoneSettings{}, so a
// missing key reads as settingsText(PhoneSettings{}, key), except the caller ID, whose default is
// the local address.
QString settingsText(const PhoneSettings& settings, SettingsKey key);

// Takes `text` as the value of `key` into `settings`; a text that is no valid value gives the key
// its default. Returns the problem the user must hear about, or an empty string.
QString takeSettingsText(PhoneSettings& settings, SettingsKey key, const QString& text);

// "Settings.ini" at `path`: the only place that reads and writes its keys.
class SettingsStore {
public:
    explicit SettingsStore(QString path) : m_path(std::move(path)) {}

    const QString& path() const { return m_path; }

    // Reads the keys in their order. `localAddress` is the default caller ID. Problems that
    // the user must hear about (a "RingTime" that is not an integer) are appended to `problems`
    // with their exact text; the key then takes its default and reading goes on, so one bad value
    // never leaves the phone without its other settings. The unanswered message is returned as
    // written: whether it would read as a call signal is the call's business.
    PhoneSettings load(const QString& localAddress, QStringList& problems) const;

    // Writes the four keys the settings dialog edits, in their order, creating the directory for
    // the first write. Raises Error("Unable to write to <path>"); keys written before stay written.
    void saveDialogValues(const PhoneSettings& settings) const;

    // Writes "micVolume" (the only key written at shut-down). Raises Error("Unable to write to
    // <path>") when the directory cannot be created or the file written.
    void saveMicVolume(int micVolume) const;

    // Reads and writes "CameraDevice" alone, for the capture window, which starts before the
    // other settings are read. Writing raises Error("Unable to write to <path>").
    QString cameraDevice() const;
    void saveCameraDevice(const QString& devicePath) const;

private:
    // Writes one key, leaving the others as they are.
    void saveOne(const PhoneSettings& settings, SettingsKey key) const;

    QString m_path;
};

} // namespace talvora
