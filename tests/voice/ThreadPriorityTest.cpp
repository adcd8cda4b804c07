// The voice threads' priority through a fake system: what they ask for, what they settle for, and
// that a refusal reaches the log once and never the user; and the system's own control as far as
// this machine can show it.
#include "FakePriority.h"
#include "TestPhone.h"
#include "support/EventLoop.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace talvora::voice {
namespace {

using test::FakePriorityControl;

TEST(ThreadPriority, FallsBackFromRealtimeToANiceLevelToNormal) {
    struct Row {
        const char* name;
        bool realtime, highPriority; // what the system grants
        PriorityGrant expected;
        int realtimeAsks, highPriorityAsks;
    };
    const Row rows[] = {
        {"granted", true, true, PriorityGrant::Realtime, 1, 0},
        {"refused, rtkit raises the nice level", false, true, PriorityGrant::Raised, 1, 1},
        {"no rtkit", false, false, PriorityGrant::Normal, 1, 1},
    };
    for (const Row& row : rows) {
        auto control = std::make_shared<FakePriorityControl>(row.realtime, row.highPriority);
        int saidNormal = 0;
        ThreadPriority priority(control, [&] { ++saidNormal; });
        EXPECT_EQ(priority.raiseAudioThread(), row.expected) << row.name;
        EXPECT_EQ(control->realtimeAsks, row.realtimeAsks) << row.name;
        EXPECT_EQ(control->highPriorityAsks, row.highPriorityAsks) << row.name;
        EXPECT_EQ(saidNormal, row.expected == PriorityGrant::Normal ? 1 : 0) << row.name;
        EXPECT_EQ(control->realtimePriority, kVoiceRealtimePriority) << row.name;
        EXPECT_EQ(control->niceLevel, row.highPriorityAsks > 0 ? kVoiceNiceLevel : 0) << row.name;
    }
}

QStringList g_warnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg) {
        g_warnings << text;
    }
}

// Each call's three threads (capture, playback, network) ask as they start; a refusal is said in
// the log once in the terminal's life, never as a notice to the user.
TEST(ThreadPriority, TerminalSaysNormalPriorityOnceInTheLog) {
    struct Row {
        bool realtime, highPriority;
        int warnings;
        ThreadPriority::Counts twoCalls;
    };
    for (const Row& row :
         {Row{true, true, 0, {6, 0, 0}}, Row{false, true, 0, {0, 6, 0}}, Row{false, false, 1, {0, 0, 6}}}) {
        g_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        QStringList notices;
        ThreadPriority::Counts counts;
        {
            NetworkConfig network;
            network.bindAddress = QHostAddress("127.0.0.2");
            MediaTerminal terminal(
                network,
                std::make_unique<FakeAudioBackend>(test::TestPhone::clock(), FakeAudioBackend::Config{}),
                test::TestPhone::clock(),
                std::make_shared<FakePriorityControl>(row.realtime, row.highPriority));
            QObject::connect(&terminal, &MediaTerminal::notice,
                             [&](const QString& text) { notices << text; });
            for (int call = 1; call <= 2; ++call) {
                test::startVoice(terminal, "127.0.0.3", 8500, {});
                talvora::test::waitUntil([&] {
                    const auto c = terminal.priorityCounts();
                    return c.realtime + c.raised + c.normal == 3 * call;
                });
                test::stopVoice(terminal);
                talvora::test::pumpEvents(20);
            }
            counts = terminal.priorityCounts();
        }
        qInstallMessageHandler(previous);
        EXPECT_EQ(counts.realtime, row.twoCalls.realtime);
        EXPECT_EQ(counts.raised, row.twoCalls.raised);
        EXPECT_EQ(counts.normal, row.twoCalls.normal);
        ASSERT_EQ(g_warnings.size(), row.warnings) << g_warnings.join('|').toStdString();
        EXPECT_TRUE(row.warnings == 0 || g_warnings.front().contains("normal priority"));
        EXPECT_TRUE(notices.isEmpty());
    }
}

// The system's own control: without a system bus there is no rtkit, so a nice level or SCHED_RR
// is had only where the process may take it itself (root here), and then for the calling thread.
TEST(ThreadPriority, SystemControlAsksTheRealSystem) {
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/talvora-test-bus");
    SystemPriorityControl system;
    bool raised = false, realtime = false;
    int nice = 0, policy = -1;
    std::thread([&] {
        raised = system.makeHighPriority(kVoiceNiceLevel);
        nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        realtime = system.makeRealtime(kVoiceRealtimePriority);
        sched_param param{};
        pthread_getschedparam(pthread_self(), &policy, &param);
    }).join();
    saved.isNull() ? qunsetenv("DBUS_SYSTEM_BUS_ADDRESS") : qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
    EXPECT_EQ(raised, geteuid() == 0);
    EXPECT_EQ(realtime, geteuid() == 0);
    EXPECT_TRUE(!raised || nice == kVoiceNiceLevel);
    EXPECT_TRUE(!realtime || (policy & ~SCHED_RESET_ON_FORK) == SCHED_RR);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), 0) << "only that thread was raised";
}

} // namespace
} // namespace talvora::voice
