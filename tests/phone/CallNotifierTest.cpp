// The incoming-call notifier against a fake notification service on a private session bus: what
// it posts for a ring, what the buttons do, when notifications go away, and that without a
// service nothing happens at all.
#include "phone/CallNotifier.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "phone/NotificationBus.h"
#include "support/EventLoop.h"
#include "support/QtPrinters.h"

#include <memory>

namespace talvora {
namespace {

using test::FakeNotificationServer;
using test::PrivateSessionBus;
using test::pumpEvents;
using test::waitUntil;

const QString kAppId = QStringLiteral("org.talvora.VideoPhone");
const QStringList kFullServer = {QStringLiteral("actions"), QStringLiteral("body"),
                                 QStringLiteral("persistence")};

// Warnings and errors Qt prints while a test runs ("no error" means none of these either).
QStringList g_warnings;

void recordWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) {
        g_warnings << text;
    }
}

class CallNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_bus.address().isEmpty()) << "dbus-daemon did not start";
        g_warnings.clear();
        m_previousHandler = qInstallMessageHandler(recordWarnings);
    }
    void TearDown() override {
        m_notifier.reset();
        m_server.reset();
        for (const QString& name : m_connections) {
            QDBusConnection::disconnectFromBus(name);
        }
        qInstallMessageHandler(m_previousHandler);
        EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join('\n').toStdString();
    }

    void startServer(const QStringList& capabilities = kFullServer) {
        m_server = std::make_unique<FakeNotificationServer>(connection(), capabilities);
        ASSERT_TRUE(m_server->registered());
    }
    CallNotifier& notifier() {
        if (!m_notifier) {
            m_notifier =
                std::make_unique<CallNotifier>(connection(), QStringLiteral("Talvora Video Phone"), kAppId);
        }
        return *m_notifier;
    }
    FakeNotificationServer& server() { return *m_server; }
    void dropNotifier() { m_notifier.reset(); }
    void dropServer() { m_server.reset(); }

    // Rings and waits until the ring notification is on screen; returns its id.
    uint ringAndWait(const QString& callerId) {
        const qsizetype before = server().notifies().size();
        notifier().ringing(callerId);
        EXPECT_TRUE(waitUntil([&] { return server().notifies().size() > before; }));
        // Let the reply with the id reach the notifier.
        pumpEvents(50);
        return server().notifies().isEmpty() ? 0 : server().notifies().last().id;
    }

    PrivateSessionBus m_bus;

private:
    // Connection names are process-wide: a name used again would hand back an older test's
    // connection, so every one is new and goes away with its test.
    QDBusConnection connection() {
        static int count = 0;
        m_connections << QStringLiteral("notifier-test-%1").arg(++count);
        return m_bus.connect(m_connections.last());
    }
    QStringList m_connections;
    std::unique_ptr<FakeNotificationServer> m_server;
    std::unique_ptr<CallNotifier> m_notifier;
    QtMessageHandler m_previousHandler = nullptr;
};

TEST_F(CallNotifierTest, ARingPostsOneCriticalResidentCallNotification) {
    startServer();
    ringAndWait(QStringLiteral("Alice"));
    pumpEvents(100);

    ASSERT_EQ(server().notifies().size(), 1);
    const test::NotifyCall& n = server().notifies().first();
    EXPECT_EQ(n.summary, QStringLiteral("Alice hailing..."));
    EXPECT_EQ(n.appName, QStringLiteral("Talvora Video Phone"));
    EXPECT_EQ(n.appIcon, kAppId);
    EXPECT_EQ(n.replacesId, 0u);
    EXPECT_EQ(n.expireTimeout, 0);
    EXPECT_EQ(n.hints.value("category").toString(), QStringLiteral("call.incoming"));
    // Notification services want the urgency as a byte; an int would be ignored by strict ones.
    EXPECT_EQ(n.hints.value("urgency").typeId(), QMetaType::UChar);
    EXPECT_EQ(n.hints.value("urgency").toInt(), 2);
    EXPECT_EQ(n.hints.value("resident"), QVariant(true));
    EXPECT_EQ(n.hints.value("suppress-sound"), QVariant(true));
    EXPECT_EQ(n.hints.value("desktop-entry").toString(), kAppId);
    EXPECT_EQ(n.actions, (QStringList{"default", "Show", "answer", "Answer", "decline", "Decline"}));
    EXPECT_TRUE(server().closes().isEmpty());
}

TEST_F(CallNotifierTest, AServerWithoutActionsGetsNoButtons) {
    startServer({QStringLiteral("body")});
    ringAndWait(QStringLiteral("Alice"));
    ASSERT_EQ(server().notifies().size(), 1);
    EXPECT_TRUE(server().notifies().first().actions.isEmpty());
    EXPECT_EQ(server().notifies().first().hints.value("category").toString(),
              QStringLiteral("call.incoming"));
}

TEST_F(CallNotifierTest, TheButtonsAskThePhone) {
    struct Case {
        const char* action;
        int answer, decline, raise;
    };
    const Case cases[] = {
        {"answer", 1, 0, 0},
        {"decline", 0, 1, 0},
        {"default", 0, 0, 1},
        {"unknown", 0, 0, 0},
    };
    startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        QSignalSpy answer(&notifier(), &CallNotifier::answerRequested);
        QSignalSpy decline(&notifier(), &CallNotifier::declineRequested);
        QSignalSpy raise(&notifier(), &CallNotifier::raiseRequested);
        const uint id = ringAndWait(QStringLiteral("Alice"));
        server().invoke(id, QString::fromLatin1(c.action));
        const int expected = c.answer + c.decline + c.raise;
        if (expected > 0) {
            waitUntil([&] { return answer.size() + decline.size() + raise.size() >= expected; });
        } else {
            pumpEvents(300);
        }
        EXPECT_EQ(answer.size(), c.answer);
        EXPECT_EQ(decline.size(), c.decline);
        EXPECT_EQ(raise.size(), c.raise);
        notifier().withdrawn();
    }
}

TEST_F(CallNotifierTest, AnotherNotificationsButtonsAreNotOurs) {
    startServer();
    QSignalSpy answer(&notifier(), &CallNotifier::answerRequested);
    const uint id = ringAndWait(QStringLiteral("Alice"));
    server().invoke(id + 100, QStringLiteral("answer"));
    pumpEvents(300);
    EXPECT_EQ(answer.size(), 0);
}

TEST_F(CallNotifierTest, TheRingNotificationGoesAwayWhenTheRingEnds) {
    const std::pair<const char*, void (CallNotifier::*)()> events[] = {
        {"answered", &CallNotifier::answered},
        {"withdrawn", &CallNotifier::withdrawn},
        {"ended", &CallNotifier::ended},
    };
    startServer();
    for (const auto& [name, event] : events) {
        SCOPED_TRACE(name);
        const uint id = ringAndWait(QStringLiteral("Alice"));
        ASSERT_TRUE(server().onScreen().contains(id));
        (notifier().*event)();
        EXPECT_TRUE(waitUntil([&] { return server().onScreen().isEmpty(); }));
        EXPECT_EQ(server().closes().last(), id);
    }
}

TEST_F(CallNotifierTest, ARingEndedBeforeTheServerAnsweredLeavesNothingOnScreen) {
    const std::pair<const char*, void (CallNotifier::*)()> events[] = {
        {"answered", &CallNotifier::answered},
        {"withdrawn", &CallNotifier::withdrawn},
        {"ended", &CallNotifier::ended},
    };
    startServer();
    for (const auto& [name, event] : events) {
        SCOPED_TRACE(name);
        notifier().ringing(QStringLiteral("Alice"));
        (notifier().*event)(); // before any reply came back
        pumpEvents(300);
        EXPECT_TRUE(server().onScreen().isEmpty());
    }
}

TEST_F(CallNotifierTest, ASecondCallerReplacesTheFirstOnesNotification) {
    startServer();
    const uint first = ringAndWait(QStringLiteral("Alice"));
    const uint second = ringAndWait(QStringLiteral("Bob"));
    ASSERT_EQ(server().notifies().size(), 2);
    EXPECT_EQ(server().notifies().last().replacesId, first);
    EXPECT_EQ(second, first);
    EXPECT_EQ(server().onScreen().size(), 1);
    EXPECT_EQ(server().onScreen().value(first), QStringLiteral("Bob hailing..."));

    notifier().answered();
    EXPECT_TRUE(waitUntil([&] { return server().onScreen().isEmpty(); }));
}

TEST_F(CallNotifierTest, ADismissedRingNotificationIsPostedAnewForTheNextCaller) {
    startServer();
    const uint first = ringAndWait(QStringLiteral("Alice"));
    server().dismiss(first);
    pumpEvents(100);
    ringAndWait(QStringLiteral("Bob"));
    EXPECT_EQ(server().notifies().last().replacesId, 0u);
}

TEST_F(CallNotifierTest, ARingThatRunsOutLeavesAMissedCallNotice) {
    startServer();
    const uint ring = ringAndWait(QStringLiteral("Alice"));
    notifier().rangOut(QStringLiteral("Alice"));
    ASSERT_TRUE(waitUntil([&] { return server().notifies().size() == 2; }));
    pumpEvents(200);

    EXPECT_FALSE(server().onScreen().contains(ring));
    const test::NotifyCall& missed = server().notifies().last();
    EXPECT_EQ(missed.summary, QStringLiteral("Missed call from Alice"));
    EXPECT_EQ(missed.hints.value("category").toString(), QStringLiteral("call.unanswered"));
    EXPECT_EQ(missed.hints.value("desktop-entry").toString(), kAppId);
    EXPECT_FALSE(missed.hints.contains("resident"));
    EXPECT_EQ(missed.expireTimeout, 0);
    EXPECT_EQ(missed.replacesId, 0u);
    // It stays when the caller withdraws afterwards or a call ends.
    notifier().withdrawn();
    notifier().ended();
    pumpEvents(200);
    EXPECT_TRUE(server().onScreen().contains(missed.id));

    QSignalSpy raise(&notifier(), &CallNotifier::raiseRequested);
    server().invoke(missed.id, QStringLiteral("default"));
    EXPECT_TRUE(waitUntil([&] { return raise.size() == 1; }));
}

TEST_F(CallNotifierTest, ALateAnswerTakesTheMissedCallNoticeAway) {
    startServer();
    ringAndWait(QStringLiteral("Alice"));
    notifier().rangOut(QStringLiteral("Alice"));
    ASSERT_TRUE(waitUntil([&] { return server().notifies().size() == 2; }));
    pumpEvents(100);
    notifier().answered();
    EXPECT_TRUE(waitUntil([&] { return server().onScreen().isEmpty(); }));
}

TEST_F(CallNotifierTest, ADeclinedCallIsNotAMissedOne) {
    startServer();
    QSignalSpy decline(&notifier(), &CallNotifier::declineRequested);
    const uint id = ringAndWait(QStringLiteral("Alice"));
    server().invoke(id, QStringLiteral("decline"));
    ASSERT_TRUE(waitUntil([&] { return decline.size() == 1; }));
    // The phone answers Decline by running the ring out.
    notifier().rangOut(QStringLiteral("Alice"));
    pumpEvents(300);
    EXPECT_EQ(server().notifies().size(), 1);
    EXPECT_TRUE(server().onScreen().isEmpty());

    // The next caller who is not declined is missed as usual.
    ringAndWait(QStringLiteral("Bob"));
    notifier().rangOut(QStringLiteral("Bob"));
    EXPECT_TRUE(waitUntil([&] { return server().notifies().size() == 3; }));
    EXPECT_EQ(server().notifies().last().summary, QStringLiteral("Missed call from Bob"));
}

TEST_F(CallNotifierTest, APhoneThatQuitsWhileRingingTakesItsNotificationAlong) {
    startServer();
    const uint id = ringAndWait(QStringLiteral("Alice"));
    ASSERT_TRUE(server().onScreen().contains(id));
    dropNotifier();
    EXPECT_TRUE(waitUntil([&] { return server().onScreen().isEmpty(); }));
}

// The call session's state changes read as the notifier's events: what is on screen after each.
TEST_F(CallNotifierTest, StateChangesOfTheCallSessionDriveTheNotifications) {
    using S = CallState;
    struct Case {
        const char* name;
        std::vector<std::pair<S, S>> changes;
        QStringList summaries; // of every Notify, in order
        int onScreen;          // notifications left on screen
    };
    const Case cases[] = {
        {"ring", {{S::Idle, S::Ringing}}, {"Alice hailing..."}, 1},
        {"answered", {{S::Idle, S::Ringing}, {S::Ringing, S::ConnectedCallee}}, {"Alice hailing..."}, 0},
        {"withdrawn", {{S::Idle, S::Ringing}, {S::Ringing, S::Idle}}, {"Alice hailing..."}, 0},
        {"rang out",
         {{S::Idle, S::Ringing}, {S::Ringing, S::Unanswered}},
         {"Alice hailing...", "Missed call from Alice"},
         1},
        {"rang out, then withdrawn",
         {{S::Idle, S::Ringing}, {S::Ringing, S::Unanswered}, {S::Unanswered, S::Idle}},
         {"Alice hailing...", "Missed call from Alice"},
         1},
        {"late answer",
         {{S::Idle, S::Ringing}, {S::Ringing, S::Unanswered}, {S::Unanswered, S::ConnectedCallee}},
         {"Alice hailing...", "Missed call from Alice"},
         0},
        {"a placed call rings nothing",
         {{S::Idle, S::Engaged},
          {S::Engaged, S::Placing},
          {S::Placing, S::ConnectedCaller},
          {S::ConnectedCaller, S::Idle}},
         {},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startServer();
        for (const auto& [from, to] : c.changes) {
            const qsizetype before = server().notifies().size();
            notifier().followCallState(from, to, QStringLiteral("Alice"));
            // Each step's notification reaches the server before the next step.
            waitUntil([&] { return server().notifies().size() > before; }, 300);
            pumpEvents(50);
        }
        pumpEvents(200);
        QStringList summaries;
        for (const test::NotifyCall& n : server().notifies()) {
            summaries << n.summary;
        }
        EXPECT_EQ(summaries, c.summaries);
        EXPECT_EQ(server().onScreen().size(), c.onScreen);
        dropNotifier();
        dropServer();
    }
}

// Without a notification service, every event passes silently: no signal, no warning, no wait.
TEST_F(CallNotifierTest, WithoutAServiceNothingHappens) {
    QSignalSpy answer(&notifier(), &CallNotifier::answerRequested);
    QSignalSpy decline(&notifier(), &CallNotifier::declineRequested);
    QSignalSpy raise(&notifier(), &CallNotifier::raiseRequested);
    notifier().ringing(QStringLiteral("Alice"));
    notifier().ringing(QStringLiteral("Bob"));
    notifier().rangOut(QStringLiteral("Bob"));
    notifier().ringing(QStringLiteral("Carol"));
    notifier().answered();
    notifier().withdrawn();
    notifier().ended();
    pumpEvents(300);
    EXPECT_EQ(answer.size() + decline.size() + raise.size(), 0);
}

TEST(CallNotifierWithoutBusTest, WithoutASessionBusNothingHappens) {
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarnings);
    {
        const QDBusConnection none = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/talvora-bus"), QStringLiteral("notifier-test-nowhere"));
        ASSERT_FALSE(none.isConnected());
        CallNotifier notifier(none, QStringLiteral("Talvora Video Phone"), kAppId);
        notifier.ringing(QStringLiteral("Alice"));
        notifier.rangOut(QStringLiteral("Alice"));
        notifier.ringing(QStringLiteral("Bob"));
        notifier.answered();
        notifier.ended();
        pumpEvents(100);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join('\n').toStdString();
}

} // namespace
} // namespace talvora
