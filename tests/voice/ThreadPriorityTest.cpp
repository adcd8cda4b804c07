// The voice threads' priority: what they ask for and what they settle for, through a fake
// system; that a refusal reaches the log once and never the user; and the system's own control
// where this machine can show it.
#include "FakePriority.h"
#include "TestPhone.h"
#include "support/EventLoop.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <cstdlib>
#include <pthread.h>
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
        bool network;                // the network thread asks, not an audio thread
        PriorityGrant expected;
        int realtimeAsks, highPriorityAsks;
    };
    const Row rows[] = {
        {"granted", true, true, false, PriorityGrant::Realtime, 1, 0},
        {"refused, rtkit raises the nice level", false, true, false, PriorityGrant::Raised, 1, 1},
        {"no rtkit", false, false, false, PriorityGrant::Normal, 1, 1},
        {"network thread, never real-time", true, true, true, PriorityGrant::Raised, 0, 1},
        {"network thread without rtkit", true, false, true, PriorityGrant::Normal, 0, 1},
    };
    for (const Row& row : rows) {
        auto control = std::make_shared<FakePriorityControl>(row.realtime, row.highPriority);
        int saidNormal = 0;
        ThreadPriority priority(control, [&] { ++saidNormal; });
        const PriorityGrant grant = row.network ? priority.raiseNetworkThread() : priority.raiseAudioThread();
        EXPECT_EQ(grant, row.expected) << row.name;
        EXPECT_EQ(control->realtimeAsks, row.realtimeAsks) << row.name;
        EXPECT_EQ(control->highPriorityAsks, row.highPriorityAsks) << row.name;
        EXPECT_EQ(saidNormal, row.expected == PriorityGrant::Normal ? 1 : 0) << row.name;
        if (row.realtimeAsks > 0) {
            EXPECT_EQ(control->realtimePriority, kVoiceRealtimePriority) << row.name;
        }
        if (row.highPriorityAsks > 0) {
            EXPECT_EQ(control->niceLevel, kVoiceNiceLevel) << row.name;
        }
    }
}

QStringList g_warnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg) {
        g_warnings << text;
    }
}

// A terminal's threads ask as each call starts; a refusal is said in the log once in the
// terminal's life, whatever the number of threads and calls, and never as a notice to the user.
TEST(ThreadPriority, TerminalSaysNormalPriorityOnceInTheLog) {
    struct Row {
        const char* name;
        bool realtime, highPriority;
        int warnings;
        ThreadPriority::Counts perCall; // capture and playback, then the network thread
    };
    const Row rows[] = {
        {"granted", true, true, 0, {2, 1, 0}},
        {"refused, rtkit raises the nice level", false, true, 0, {0, 3, 0}},
        {"no rtkit", false, false, 1, {0, 0, 3}},
    };
    for (const Row& row : rows) {
        g_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        auto control = std::make_shared<FakePriorityControl>(row.realtime, row.highPriority);
        QStringList notices;
        {
            NetworkConfig network;
            network.bindAddress = QHostAddress("127.0.0.2");
            MediaTerminal terminal(
                network,
                std::make_unique<FakeAudioBackend>(test::TestPhone::clock(), FakeAudioBackend::Config{}),
                test::TestPhone::clock(), control);
            QObject::connect(&terminal, &MediaTerminal::notice,
                             [&](const QString& text) { notices << text; });
            for (int call = 0; call < 2; ++call) {
                test::startVoice(terminal, "127.0.0.3", 8500, {});
                ASSERT_TRUE(talvora::test::waitUntil(
                    [&] {
                        const auto c = terminal.priorityCounts();
                        return c.realtime + c.raised + c.normal == 3 * (call + 1);
                    },
                    5000))
                    << row.name;
                test::stopVoice(terminal);
                talvora::test::pumpEvents(20);
            }
            const ThreadPriority::Counts counts = terminal.priorityCounts();
            EXPECT_EQ(counts.realtime, 2 * row.perCall.realtime) << row.name;
            EXPECT_EQ(counts.raised, 2 * row.perCall.raised) << row.name;
            EXPECT_EQ(counts.normal, 2 * row.perCall.normal) << row.name;
        }
        qInstallMessageHandler(previous);
        EXPECT_EQ(g_warnings.size(), row.warnings) << row.name << ": " << g_warnings.join('|').toStdString();
        if (row.warnings > 0) {
            EXPECT_TRUE(g_warnings.front().contains("normal priority")) << g_warnings.front().toStdString();
        }
        EXPECT_TRUE(notices.isEmpty()) << row.name;
    }
}

// The system's own control, as far as this machine can show it: without a system bus there is
// no rtkit, so a nice level is raised only where the process may do it itself, and then it is
// the calling thread's; SCHED_RR likewise.
TEST(ThreadPriority, SystemControlAsksTheRealSystem) {
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/talvora-test-bus");
    SystemPriorityControl system;
    bool raised = false;
    int nice = 0;
    std::thread([&] {
        raised = system.makeHighPriority(kVoiceNiceLevel);
        nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    }).join();
    if (geteuid() == 0) {
        EXPECT_TRUE(raised) << "root may raise its own threads";
    }
    if (raised) {
        EXPECT_EQ(nice, kVoiceNiceLevel);
        EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), 0) << "only that thread was raised";
    }

    int policy = -1;
    bool realtime = false;
    std::thread([&] {
        realtime = system.makeRealtime(kVoiceRealtimePriority);
        sched_param param{};
        pthread_getschedparam(pthread_self(), &policy, &param);
    }).join();
    if (saved.isNull()) {
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    } else {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
    }
    if (!realtime) {
        GTEST_SKIP() << "this process may not have SCHED_RR, and no rtkit is reachable";
    }
    EXPECT_EQ(policy & ~SCHED_RESET_ON_FORK, SCHED_RR);
}

} // namespace
} // namespace talvora::voice
