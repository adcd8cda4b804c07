#pragma once

#include <QString>

namespace talvora {

// Where "Settings.ini" and "IPAddress.dat" live: the directory given with --config-dir when there
// is one; otherwise beside the program file when that directory is writable (a copy unpacked
// into a folder of its own); otherwise, for an installed copy, $XDG_CONFIG_HOME/talvora
// (default ~/.config/talvora).
class ConfigLocation {
public:
    // `overrideDir` from --config-dir (empty when not given); `programDir` the program file's
    // directory.
    ConfigLocation(QString overrideDir, QString programDir);

    QString directory() const { return m_dir; }
    QString settingsPath() const;
    QString addressBookPath() const;

    // Creates the directory when it is missing (for the first write); false when that fails.
    bool ensureDirectory() const;

private:
    QString m_dir;
};

} // namespace talvora
