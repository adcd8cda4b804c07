#include "settings/ConfigLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace talvora {

namespace {

bool writableDirectory(const QString& dir) {
    const QByteArray path = QFile::encodeName(dir);
    return QFileInfo(dir).isDir() && ::access(path.constData(), W_OK) == 0;
}

QString userConfigDirectory() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/talvora");
}

} // namespace

ConfigLocation::ConfigLocation(QString overrideDir, QString programDir) {
    if (!overrideDir.isEmpty()) {
        m_dir = QDir(overrideDir).absolutePath();
    } else if (writableDirectory(programDir)) {
        m_dir = QDir(programDir).absolutePath();
    } else {
        m_dir = userConfigDirectory();
    }
}

QString ConfigLocation::settingsPath() const {
    return m_dir + QStringLiteral("/Settings.ini");
}

QString ConfigLocation::addressBookPath() const {
    return m_dir + QStringLiteral("/IPAddress.dat");
}

bool ConfigLocation::ensureDirectory() const {
    return QDir().mkpath(m_dir);
}

} // namespace talvora
