#include "phone/NotificationBus.h"

#include <QDBusConnectionInterface>
#include <QFile>

namespace talvora::test {

namespace {

// The reasons a NotificationClosed signal carries.
constexpr uint kDismissed = 2;
constexpr uint kClosedByCall = 3;

} // namespace

PrivateSessionBus::PrivateSessionBus() {
    const QString config = m_dir.filePath(QStringLiteral("session.conf"));
    QFile file(config);
    if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly)) {
        return;
    }
    file.write(
        QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(m_dir.filePath(QStringLiteral("bus")))
            .toUtf8());
    file.close();
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    // The daemon prints its address once it listens.
    if (m_daemon.waitForStarted(10000) && m_daemon.waitForReadyRead(10000)) {
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
}

PrivateSessionBus::~PrivateSessionBus() {
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
}

QDBusConnection PrivateSessionBus::connect(const QString& name) const {
    return QDBusConnection::connectToBus(m_address, name);
}

FakeNotificationServer::FakeNotificationServer(QDBusConnection bus, QStringList capabilities)
    : m_bus(std::move(bus)), m_capabilities(std::move(capabilities)) {
    m_registered =
        m_bus.isConnected() &&
        m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
        m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

FakeNotificationServer::~FakeNotificationServer() {
    if (m_registered) {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
}

QStringList FakeNotificationServer::GetCapabilities() {
    return m_capabilities;
}

uint FakeNotificationServer::Notify(const QString& appName, uint replacesId, const QString& appIcon,
                                    const QString& summary, const QString& body, const QStringList& actions,
                                    const QVariantMap& hints, int expireTimeout) {
    // A replaced notification keeps its id; one that is gone is posted anew.
    const uint id = m_onScreen.contains(replacesId) ? replacesId : m_nextId++;
    m_onScreen.insert(id, summary);
    m_notifies.append({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout, id});
    return id;
}

void FakeNotificationServer::CloseNotification(uint id) {
    m_closes.append(id);
    if (m_onScreen.remove(id) > 0) {
        emit NotificationClosed(id, kClosedByCall);
    }
}

QString FakeNotificationServer::GetServerInformation(QString& vendor, QString& version,
                                                     QString& specVersion) {
    vendor = QStringLiteral("talvora-tests");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("fake");
}

void FakeNotificationServer::invoke(uint id, const QString& actionKey) {
    emit ActionInvoked(id, actionKey);
}

void FakeNotificationServer::dismiss(uint id) {
    if (m_onScreen.remove(id) > 0) {
        emit NotificationClosed(id, kDismissed);
    }
}

} // namespace talvora::test
