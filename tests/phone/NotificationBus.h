#pragma once

// A private session bus and a fake notification service on it, for tests of the phone's
// desktop notifications. Nothing here touches the user's own session bus.
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

namespace talvora::test {

// A dbus-daemon of our own, listening on a socket in a temporary directory, with a policy that
// allows everything. Stopped (by its process) when the object goes away.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when the daemon did not start.
    QString address() const { return m_address; }
    // A new connection of its own to this bus (each one has a unique name).
    QDBusConnection connect(const QString& name) const;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// One Notify call as the service received it.
struct NotifyCall {
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = -1;
    uint id = 0; // what the service answered
};

// The org.freedesktop.Notifications interface as a notification server offers it: it records
// every call, keeps the set of notifications on screen, and lets the test press buttons.
class FakeNotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    // Registers the service on `bus`; false when the name or the object could not be taken.
    FakeNotificationServer(QDBusConnection bus, QStringList capabilities);
    ~FakeNotificationServer() override;

    bool registered() const { return m_registered; }
    const QList<NotifyCall>& notifies() const { return m_notifies; }
    const QList<uint>& closes() const { return m_closes; }
    // Summaries of the notifications on screen, by id.
    const QHash<uint, QString>& onScreen() const { return m_onScreen; }

    // The user presses a button (or clicks the notification, for "default").
    void invoke(uint id, const QString& actionKey);
    // The user dismisses a notification.
    void dismiss(uint id);

public slots:
    QStringList GetCapabilities();
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout);
    void CloseNotification(uint id);
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);

signals:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QStringList m_capabilities;
    bool m_registered = false;
    uint m_nextId = 1;
    QList<NotifyCall> m_notifies;
    QList<uint> m_closes;
    QHash<uint, QString> m_onScreen;
};

} // namespace talvora::test
