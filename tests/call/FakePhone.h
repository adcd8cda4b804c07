#pragma once

#include "CallFakes.h"
#include "call/CallSession.h"
#include "support/FakeMessageService.h"

#include <QHostAddress>

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

// One phone: a call session over fakes. `processEvents` counts the points where pending window
// messages run and then runs `onProcessEvents` (a test's nested handlers, or a shared queue).
struct FakePhone {
    FakePhone()
        : session(CallSessionParts{sender, voice, timer, tone, window, dialog, messages,
                                   [this] {
                                       ++processEventsCalls;
                                       if (onProcessEvents) {
                                           onProcessEvents();
                                       }
                                   },
                                   [this](const QString& host, QObject*, HostLookupDone done) {
                                       // Names ending in ".slow" answer when the test says so.
                                       if (host.endsWith(QLatin1String(".slow"))) {
                                           slowLookups.append({host, std::move(done)});
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
    std::function<void()> onProcessEvents;
    int processEventsCalls = 0;
    struct SlowLookup {
        QString host;
        HostLookupDone done;
    };
    QList<SlowLookup> slowLookups;
    CallSession session;
};

} // namespace talvora::test
