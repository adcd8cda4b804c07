#pragma once

#include "call/CallState.h"

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace talvora {

// Tells the desktop about incoming calls through the freedesktop.org notification service on
// the session bus, so that a call reaches the user while the phone sits behind other windows.
//
// The phone reports what happens to a ringing call; the notifier turns that into one
// notification per ring (a second caller replaces the first one's), a missed-call notice when
// the ring runs out, and signals for the buttons the user presses in the notification. Every
// bus call is asynchronous and every failure is silent: without a session bus or a notification
// service the phone behaves as if the notifier did not exist.
class CallNotifier final : public QObject {
    Q_OBJECT
public:
    // `appName` heads the notifications; `desktopEntry` is the application id the service looks
    // the application up by (its desktop file's name without ".desktop"), also the icon's name.
    CallNotifier(QDBusConnection bus, QString appName, QString desktopEntry, QObject* parent = nullptr);
    ~CallNotifier() override;

    // A call request rings, from `callerId` (the caller's caller ID text).
    void ringing(const QString& callerId);
    // This side answered the ringing call, or a late Call answered a call that had rung out.
    void answered();
    // The caller withdrew (Cancel) while the call rang.
    void withdrawn();
    // The ring time ran out without an answer (or the user declined).
    void rangOut(const QString& callerId);
    // The call is over on this side (End), whatever state it was in.
    void ended();

    // The five events above, read from one change of the call session's state: entering Ringing
    // rings (a second caller too), Ringing to Unanswered rings out, entering ConnectedCallee
    // answers, Ringing or Unanswered to Idle is withdrawn, any other way to Idle
    // ends. `callerId` is the ringing caller's caller ID.
    void followCallState(CallState from, CallState to, const QString& callerId);

signals:
    // The user pressed Answer in the notification: do what Call does while ringing.
    void answerRequested();
    // The user pressed Decline: send the unanswered message at once, as if the ring ran out.
    void declineRequested();
    // The user clicked the notification: bring the phone's window to the front.
    void raiseRequested();

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Notice {
        QString summary;
        QString category;
        uchar urgency = 1;
        bool resident = false;
        bool suppressSound = false;
        QStringList actions; // posted only when the server shows actions
    };

    // Asks the server whether it shows actions, then calls `post` with that answer. A server
    // that does not answer gets no actions.
    void withCapabilities(const std::function<void(bool actions)>& post);
    // Sends Notify; `done` receives the server's id, or nothing when the call fails.
    void notify(uint replacesId, const Notice& notice, bool actions, const std::function<void(uint)>& done);
    void close(uint id);
    // Takes the ring notification off the screen, now or as soon as its id comes back.
    void dropRing();

    QDBusConnection m_bus;
    QString m_appName;
    QString m_desktopEntry;

    // The notification of the current ring. m_ring counts rings, so that an answer from the
    // server about an older ring is told from one about this ring; m_ringId is the server's id
    // for the notification on screen (0 while unknown or none).
    quint64 m_ring = 0;
    bool m_ringShown = false;
    uint m_ringId = 0;
    bool m_declined = false;
    // Missed-call notices on screen (clicking one raises the phone), and the one of the latest
    // ring that ran out, which a late answer takes away again.
    QSet<uint> m_missedIds;
    quint64 m_missedRing = 0;
    uint m_missedId = 0;
};

} // namespace talvora
