#include "phone/CallNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace talvora {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// How long a question to the server may stay unanswered; the phone never waits for it.
constexpr int kReplyTimeoutMs = 10000;

// Notification urgencies as the notification service expects them (a byte on the wire).
constexpr uchar kNormal = 1;
constexpr uchar kCritical = 2;

const QString kDefaultAction = QStringLiteral("default");
const QString kAnswerAction = QStringLiteral("answer");
const QString kDeclineAction = QStringLiteral("decline");

} // namespace

CallNotifier::CallNotifier(QDBusConnection bus, QString appName, QString desktopEntry, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_appName(std::move(appName)),
      m_desktopEntry(std::move(desktopEntry)) {
    if (m_bus.isConnected()) {
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(uint, QString)));
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                      SLOT(onNotificationClosed(uint, uint)));
    }
}

CallNotifier::~CallNotifier() {
    // A resident call notification would outlive the phone with buttons nobody listens to.
    dropRing();
}

void CallNotifier::ringing(const QString& callerId) {
    const quint64 ring = ++m_ring;
    m_ringShown = true;
    m_declined = false;
    withCapabilities([this, ring, callerId](bool actions) {
        if (ring != m_ring || !m_ringShown) {
            return; // answered, withdrawn or replaced while the server was asked
        }
        Notice notice;
        notice.summary = callerId + QStringLiteral(" hailing...");
        notice.category = QStringLiteral("call.incoming");
        notice.urgency = kCritical;
        notice.resident = true;
        notice.suppressSound = true; // the phone plays its own ring tone
        notice.actions = {kDefaultAction,           QStringLiteral("Show"), kAnswerAction,
                          QStringLiteral("Answer"), kDeclineAction,         QStringLiteral("Decline")};
        // A second caller replaces the first one's notification instead of stacking another.
        notify(m_ringId, notice, actions, [this, ring](uint id) {
            if (ring == m_ring && m_ringShown) {
                m_ringId = id;
            } else {
                close(id); // its ring ended while the notification was on its way
            }
        });
    });
}

void CallNotifier::answered() {
    dropRing();
    if (m_missedRing == m_ring && m_missedId != 0) {
        close(m_missedId); // a late answer: the call was not missed after all
        m_missedIds.remove(m_missedId);
        m_missedId = 0;
    }
}

void CallNotifier::withdrawn() {
    dropRing();
}

void CallNotifier::ended() {
    dropRing();
}

void CallNotifier::rangOut(const QString& callerId) {
    dropRing();
    if (m_declined) {
        m_declined = false;
        return; // the user said no; nothing was missed
    }
    const quint64 ring = m_ring;
    withCapabilities([this, ring, callerId](bool actions) {
        Notice notice;
        notice.summary = QStringLiteral("Missed call from ") + callerId;
        notice.category = QStringLiteral("call.unanswered");
        notice.urgency = kNormal;
        notice.actions = {kDefaultAction, QStringLiteral("Show")};
        notify(0, notice, actions, [this, ring](uint id) {
            m_missedIds.insert(id);
            m_missedRing = ring;
            m_missedId = id;
        });
    });
}

void CallNotifier::followCallState(CallState from, CallState to, const QString& callerId) {
    if (to == CallState::Ringing) {
        ringing(callerId);
    } else if (from == CallState::Ringing && to == CallState::Unanswered) {
        rangOut(callerId);
    } else if (to == CallState::ConnectedCallee) {
        answered();
    } else if (to == CallState::Idle) {
        if (from == CallState::Ringing || from == CallState::Unanswered) {
            withdrawn();
        } else {
            ended();
        }
    }
}

void CallNotifier::onActionInvoked(uint id, const QString& actionKey) {
    if (id == 0) {
        return;
    }
    if (id == m_ringId && m_ringShown) {
        if (actionKey == kAnswerAction) {
            emit answerRequested();
        } else if (actionKey == kDeclineAction) {
            m_declined = true;
            emit declineRequested();
        } else if (actionKey == kDefaultAction) {
            emit raiseRequested();
        }
    } else if (m_missedIds.contains(id) && actionKey == kDefaultAction) {
        emit raiseRequested();
    }
}

void CallNotifier::onNotificationClosed(uint id, uint /*reason*/) {
    if (id == 0) {
        return;
    }
    if (id == m_ringId) {
        m_ringId = 0; // dismissed; a second caller gets a new notification
    }
    m_missedIds.remove(id);
    if (id == m_missedId) {
        m_missedId = 0;
    }
}

void CallNotifier::withCapabilities(const std::function<void(bool actions)>& post) {
    if (!m_bus.isConnected()) {
        return;
    }
    const QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [post](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError() && reply.error().type() == QDBusError::ServiceUnknown) {
            return; // no notification service on this desktop
        }
        post(!reply.isError() && reply.value().contains(QStringLiteral("actions")));
    });
}

void CallNotifier::notify(uint replacesId, const Notice& notice, bool actions,
                          const std::function<void(uint)>& done) {
    QVariantMap hints;
    hints.insert(QStringLiteral("category"), notice.category);
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(notice.urgency));
    hints.insert(QStringLiteral("desktop-entry"), m_desktopEntry);
    if (notice.resident) {
        hints.insert(QStringLiteral("resident"), true);
    }
    if (notice.suppressSound) {
        hints.insert(QStringLiteral("suppress-sound"), true);
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // Both notices stay until the phone or the user takes them away (expire timeout 0).
    message << m_appName << replacesId << m_desktopEntry << notice.summary << QString()
            << (actions ? notice.actions : QStringList()) << hints << qint32(0);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (!reply.isError() && reply.value() != 0) {
            done(reply.value());
        }
    });
}

void CallNotifier::close(uint id) {
    if (id == 0 || !m_bus.isConnected()) {
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    message << id;
    // Nobody waits for the answer: a notification already gone is as good as closed.
    message.setAutoStartService(false);
    m_bus.send(message);
}

void CallNotifier::dropRing() {
    m_ringShown = false;
    close(m_ringId);
    m_ringId = 0;
}

} // namespace talvora
