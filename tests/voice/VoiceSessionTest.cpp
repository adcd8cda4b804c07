#include "ui/VoiceEngineWindow.h"
#include "base/Error.h"
#include "voice/engine/MediaTerminal.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace talvora {
namespace {

// A terminal that writes down every call it receives, as "Name(args)".
class RecordingTerminal final : public ICCNMediaTerm {
public:
    QStringList calls;

    bool Initialize() override { return note("Initialize()"); }
    bool Uninitialize() override { return note("Uninitialize()"); }
    bool OpenReceive(int a, int b, int c, int d) override {
        return note(QString("OpenReceive(%1,%2,%3,%4)").arg(a).arg(b).arg(c).arg(d));
    }
    bool OpenTransmit(int a, int b, int c, int d, int e, int f) override {
        return note(QString("OpenTransmit(%1,%2,%3,%4,%5,%6)").arg(a).arg(b).arg(c).arg(d).arg(e).arg(f));
    }
    bool SetTransmitDestination(const QString& address, int port) override {
        return note(QString("SetTransmitDestination(%1,%2)").arg(address).arg(port));
    }
    bool BindReceivePort(int port) override { return note(QString("BindReceivePort(%1)").arg(port)); }
    bool StartTransmit(int a) override { return note(QString("StartTransmit(%1)").arg(a)); }
    bool StopTransmit() override { return note("StopTransmit()"); }
    bool StartReceive(int a) override { return note(QString("StartReceive(%1)").arg(a)); }
    bool StopReceive() override { return note("StopReceive()"); }
    bool SetReceiveLevel(int a, int b) override {
        return note(QString("SetReceiveLevel(%1,%2)").arg(a).arg(b));
    }
    bool SetTransmitLevel(int a, int b) override {
        return note(QString("SetTransmitLevel(%1,%2)").arg(a).arg(b));
    }

private:
    // Results are never looked at: answer false to prove it.
    bool note(const QString& call) {
        calls << call;
        return false;
    }
};

struct Fixture {
    std::shared_ptr<RecordingTerminal> terminal = std::make_shared<RecordingTerminal>();
    int connects = 0;
    TCCNMediaTerm ccn{[this] {
        ++connects;
        return terminal;
    }};
};

const QStringList kDestroy{"StopReceive()",  "StopTransmit()", "StopReceive()",
                           "StopTransmit()", "Uninitialize()", "Uninitialize()"};

TEST(VOIPMedia, CallsTheTerminalInTheSessionsOrder) {
    Fixture f;
    EXPECT_FALSE(f.ccn.connected()) << "the component connects on first use, not before";
    {
        TVOIPMediaFactory factory(f.ccn);
        auto session = factory.create();
        EXPECT_EQ(f.terminal->calls, (QStringList{"Initialize()", "Initialize()"}));
        session->SetTransmitPort(8500);
        session->SetReceivePort(8500);
        session->SetRemoteAddress("192.168.1.20");
        EXPECT_EQ(f.terminal->calls.size(), 2) << "setters do not call the terminal";
        f.terminal->calls.clear();
        session->Start();
        EXPECT_EQ(f.terminal->calls,
                  (QStringList{"OpenTransmit(4,20,0,1,1,0)", "SetTransmitDestination(192.168.1.20,8500)",
                               "OpenReceive(4,20,0,0)", "BindReceivePort(8500)", "StartReceive(0)",
                               "StartTransmit(0)", "SetReceiveLevel(0,80)", "SetTransmitLevel(0,80)"}));
        f.terminal->calls.clear();
        session->SetMicLevel(0);
        session->SetMicLevel(100);
        session->SetMicLevel(37);
        EXPECT_EQ(f.terminal->calls, (QStringList{"SetTransmitLevel(0,0)", "SetTransmitLevel(0,100)",
                                                  "SetTransmitLevel(0,37)"}));
        f.terminal->calls.clear();
        session->Stop();
        EXPECT_EQ(f.terminal->calls, (QStringList{"StopReceive()", "StopTransmit()"}));
        f.terminal->calls.clear();
    }
    EXPECT_EQ(f.terminal->calls, kDestroy);
    EXPECT_EQ(f.terminal.use_count(), 2) << "the session released both references";
}

TEST(VOIPMedia, NeverStartedSessionIsDestroyedWithTheSameCalls) {
    Fixture f;
    {
        TVOIPMedia session(f.ccn);
        session.SetRemoteAddress("peer");
        f.terminal->calls.clear();
        session.Stop();
        EXPECT_EQ(f.terminal->calls, (QStringList{"StopReceive()", "StopTransmit()"}));
        f.terminal->calls.clear();
    }
    EXPECT_EQ(f.terminal->calls, kDestroy);
}

TEST(VOIPMedia, SessionsShareOneConnectionAcrossCalls) {
    Fixture f;
    for (int call = 0; call < 3; ++call) {
        TVOIPMedia session(f.ccn);
        session.Start();
        session.Stop();
    }
    EXPECT_EQ(f.connects, 1);
    EXPECT_TRUE(f.ccn.connected());
}

TEST(VOIPMedia, ConnectionFailureReachesTheCallerAndNoSessionExists) {
    int attempts = 0;
    TCCNMediaTerm ccn([&]() -> std::shared_ptr<ICCNMediaTerm> {
        ++attempts;
        throw Error("The voice engine is not available");
    });
    TVOIPMediaFactory factory(ccn);
    try {
        factory.create();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.text(), "The voice engine is not available");
    }
    EXPECT_FALSE(ccn.connected());
    EXPECT_THROW(factory.create(), Error);
    EXPECT_EQ(attempts, 2) << "a failed connection is tried again next time";
}

TEST(VOIPMedia, HostWindowIsHiddenAndSharesOneTerminalPerProcess) {
    VoiceEngineWindow first;
    EXPECT_EQ(first.windowTitle(), "CCN");
    EXPECT_EQ(first.size(), QSize(158, 141));
    EXPECT_FALSE(first.isVisible());
    EXPECT_FALSE(first.ccn().connected());
    NetworkConfig bound;
    bound.bindAddress = QHostAddress("127.0.0.5");
    VoiceEngineWindow second(bound);
    const auto a = first.ccn().DefaultInterface();
    const auto b = second.ccn().DefaultInterface();
    EXPECT_EQ(a.get(), b.get()) << "the second host attaches to the running terminal";
    EXPECT_NE(dynamic_cast<voice::MediaTerminal*>(a.get()), nullptr);
}

} // namespace
} // namespace talvora
