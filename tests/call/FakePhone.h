#pragma once

#include "CallFakes.h"
#include "call/CallSession.h"
#include "support/FakeMessageService.h"

#include <QHostAddress>
#include <QPointer>

namespace talvora::test {

// Resolves dotted addresses as themselves and a few test names at once; "multi.lan" has two
// addresses; anything else is not found.
inline HostLookupResult fakeLookupNow(const QString& host) {
    if (host.compare(QLatin1String("LOCALHOST"), Qt::CaseInsensitive) == 0) {
        return {{QHostAddress(QHostAddress::LocalHost)}, {}};
    }
    if (host == QLatin1String("bob.lan")) {
        return {{QHostAddress(QStringLiteral("10.0.0.2"))}, {}};
    }
    if (host == QLatin1String("multi.lan")) {
        return {{QHostAddress(QStringLiteral("10.0.0.2")), QHostAddress(QStringLiteral("10.0.0.4"))}, {}};
    }
    QHostAddress a;
    if (a.setAddress(host) && a.protocol() == QHostAddress::IPv4Protocol) {
        return {{a}, {}};
    }
    return {{}, QStringLiteral("Host not found")};
}

// One phone: a call session over fakes.
struct FakePhone {
    FakePhone()
        : session(CallSessionParts{sender, voice, timer, tone, window, dialog, messages,
                                   [this](const QString& host, QObject* context, HostLookupDone done) {
                                       // Names ending in ".slow" answer when the test says so,
                                       // unless their context is gone by then (as QHostInfo).
                                       if (host.endsWith(QLatin1String(".slow"))) {
                                           slowLookups.append({host, context, std::move(done)});
                                       } else {
                                           done(fakeLookupNow(host));
                                       }
                                   }}) {
        timer.setTimeoutHandler([this] { session.onRingTimeout(); });
        session.settings().callerId = QStringLiteral("Alice");
    }

    RecordingSignalSender sender;
    FakeVoiceFactory voice;
    FakeRingTimer timer;
    FakeRingTonePlayer tone;
    FakeCallWindow window;
    FakeCallingDialog dialog;
    FakeMessageService messages;
    struct SlowLookup {
        QString host;
        QPointer<QObject> context;
        HostLookupDone done;
        // What the resolver does when it has the answer.
        void answer(const HostLookupResult& result) const {
            if (context) {
                done(result);
            }
        }
    };
    QList<SlowLookup> slowLookups;
    CallSession session;
};

} // namespace talvora::test
