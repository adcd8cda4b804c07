// Drives one call session with arbitrary sequences of events: the user's Call, End and Cancel,
// ring timer ticks, and datagrams of every kind (and of random bytes) from the called peer, from
// strangers and from a dual-stack view of the peer. Aborts when an invariant breaks:
//   - a voice session opens only by answering a waiting call or for the called peer's accept,
//     and never while another one exists;
//   - pictures go out only while a voice session exists;
//   - End (when not ringing) leaves no voice session and clear flags.

#include "base/Error.h"
#include "base/MessageService.h"
#include "call/CallSession.h"
#include "call/CallView.h"
#include "call/CallingView.h"
#include "call/RingTimer.h"
#include "call/RingTonePlayer.h"
#include "call/SignalWire.h"
#include "voice/VoiceSession.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace talvora {
namespace {

[[noreturn]] void broken(const char* what) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t next() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    QByteArray bytes(size_t n) {
        n = n < size ? n : size;
        QByteArray out(reinterpret_cast<const char*>(data), qsizetype(n));
        data += n;
        size -= n;
        return out;
    }
};

int g_liveSessions = 0;

// Called when a new voice session is pointed at its peer: the moment a call's microphone opens.
std::function<void(const QString&)> g_onRemote;

struct Voice : VoiceSession {
    explicit Voice(bool failStop) : failStop(failStop) { ++g_liveSessions; }
    ~Voice() override { --g_liveSessions; }
    void setTransmitPort(int) override {}
    void setReceivePort(int) override {}
    void setRemoteAddress(const QString& remote) override { g_onRemote(remote); }
    void start() override {}
    void stop() override {
        if (failStop) {
            throw Error(QStringLiteral("stop failed"));
        }
    }
    void setMicLevel(int) override {}
    bool failStop;
};

struct Factory : VoiceSessionFactory {
    std::unique_ptr<VoiceSession> create() override {
        if (failCreate) {
            throw Error(QStringLiteral("no engine"));
        }
        ++created;
        return std::make_unique<Voice>(failStop);
    }
    int created = 0;
    bool failCreate = false;
    bool failStop = false;
};

struct Sender : SignalSender {
    void send(const QString&, const QByteArray&) override {
        if (fail) {
            throw Error(QStringLiteral("unreachable"));
        }
    }
    bool fail = false;
};

struct Timer : RingTimer {
    void setInterval(int ms) override { intervalMs = ms; }
    int interval() const override { return intervalMs; }
    void setEnabled(bool on) override { enabled = on; }
    bool isEnabled() const override { return enabled; }
    void setTimeoutHandler(std::function<void()> h) override { handler = std::move(h); }
    int intervalMs = 1000;
    bool enabled = false;
    std::function<void()> handler;
};

struct Tone : RingTonePlayer {
    void close() override { playing = false; }
    void open(const QString&) override {}
    void playFromStart() override { playing = true; }
    void stop() override { playing = false; }
    bool isPlaying() const override { return playing; }
    bool playing = false;
};

struct Window : CallView {
    QString hostText() const override { return host; }
    void setHostText(const QString& t) override { host = t; }
    void focusHost() override {}
    void setCallerLine(const QString&) override {}
    void showIdlePicture() override {}
    void flashTaskbar() override {}
    void setVideoDestination(const QString&) override {}
    QString host = hostPlaceholderText();
};

struct Dialog : CallingView {
    void startAnimation() override {}
    void stopAnimation() override {}
    void setStatusLine(const QString&) override {}
    void showDialog() override { shown = true; }
    void closeDialog() override { shown = false; }
    bool shown = false;
};

struct Messages : MessageService {
    void information(const QString&, const QString&) override {}
    void warning(const QString&, const QString&) override {}
    void error(const QString&, const QString&) override {}
    void ask(const QString&, const QString&, std::function<void(bool)> answered) override { answered(false); }
};

const QString kAddresses[] = {QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.3"),
                              QStringLiteral("::ffff:10.0.0.2"), QStringLiteral("127.0.0.1")};

void lookup(const QString& host, QObject*, HostLookupDone done) {
    QHostAddress a;
    if (a.setAddress(host) && a.protocol() == QHostAddress::IPv4Protocol) {
        done({{a}, {}});
    } else {
        done({{}, QStringLiteral("Host not found")});
    }
}

class Driver {
public:
    explicit Driver(Input& in)
        : m_in(in), m_session(CallSessionParts{m_sender, m_voice, m_timer, m_tone, m_window, m_dialog,
                                               m_messages, lookup}) {
        m_timer.setTimeoutHandler([this] { m_session.onRingTimeout(); });
        g_onRemote = [this](const QString& remote) { checkNewVoicePeer(remote); };
    }

    ~Driver() { g_onRemote = nullptr; }

    void run() {
        while (m_in.size > 0) {
            step();
        }
    }

private:
    void step() {
        const uint8_t op = m_in.next();
        const QString& sender = kAddresses[(op >> 4) & 3];
        try {
            switch (op & 15) {
            case 0:
                m_window.host = kAddresses[(op >> 4) & 3];
                break;
            case 1:
                m_window.host = QString::fromLatin1(m_in.bytes(m_in.next() & 15));
                break;
            case 2:
                m_session.onCallClicked();
                break;
            case 3: {
                const bool ringing = m_session.ringing();
                m_session.onEndClicked();
                if (!ringing && (m_session.voiceSession() || m_session.inCall())) {
                    broken("End left a call behind");
                }
                break;
            }
            case 4:
                m_session.onCancelClicked();
                break;
            case 5:
                if (m_timer.enabled && m_timer.intervalMs > 0 && m_timer.handler) {
                    m_timer.handler();
                }
                break;
            case 6:
                m_session.callRequestReceived(QStringLiteral("x"), sender);
                break;
            case 7:
                m_session.acceptReceived(sender);
                break;
            case 8:
                m_session.cancelReceived(sender);
                break;
            case 9:
                m_session.statusTextReceived(QStringLiteral("busy"));
                break;
            case 10: {
                // Random bytes through the classifier, as the endpoint hands them over.
                const QByteArray payload = m_in.bytes(m_in.next() & 31);
                const Signal s = classifySignal(payload);
                switch (s.kind) {
                case SignalKind::CallRequest:
                    m_session.callRequestReceived(s.callerId, sender);
                    break;
                case SignalKind::Accept:
                    m_session.acceptReceived(sender);
                    break;
                case SignalKind::Cancel:
                    m_session.cancelReceived(sender);
                    break;
                case SignalKind::StatusText:
                    m_session.statusTextReceived(s.text);
                    break;
                }
                break;
            }
            case 11:
                m_sender.fail = !m_sender.fail;
                break;
            case 12:
                m_voice.failCreate = !m_voice.failCreate;
                break;
            case 13:
                m_voice.failStop = !m_voice.failStop;
                break;
            case 14:
                m_session.settings().ringTimeMs = m_in.next() % 3 == 0 ? 0 : 1000;
                break;
            default:
                m_session.settings().unansweredMessage = QString::fromLatin1(m_in.bytes(m_in.next() & 7));
                break;
            }
        } catch (const Error&) {
            // Errors the session leaves to the caller's standard error box.
        }
        if (m_session.sendVideo() && !m_session.voiceSession()) {
            broken("pictures go out without a voice session");
        }
        if (g_liveSessions > 1) {
            broken("two voice sessions alive");
        }
        if (!m_session.calledAddress().isNull() && !m_session.inCall()) {
            broken("a called address is kept without a call");
        }
    }

    // A voice session opens only for a call this side answered (towards the waiting caller in
    // the host field) or for the accept of the peer this side is calling.
    void checkNewVoicePeer(const QString& remote) {
        if (m_session.voiceSession()) {
            broken("a second voice session while one exists");
        }
        const bool answering = m_session.inCall() && m_session.incomingCall() && remote == m_window.host;
        const QHostAddress called = m_session.calledAddress();
        const bool accepted = m_session.inCall() && !m_session.incomingCall() && !called.isNull() &&
                              QHostAddress(remote).isEqual(called, QHostAddress::TolerantConversion);
        if (!answering && !accepted) {
            broken("voice session without an answer or the called peer's accept");
        }
    }

    Input& m_in;
    Sender m_sender;
    Factory m_voice;
    Timer m_timer;
    Tone m_tone;
    Window m_window;
    Dialog m_dialog;
    Messages m_messages;
    CallSession m_session;
};

} // namespace
} // namespace talvora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "call_session_fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    talvora::Input in{data, size};
    {
        talvora::Driver driver(in);
        driver.run();
    }
    if (talvora::g_liveSessions != 0) {
        talvora::broken("a voice session outlived its call session");
    }
    return 0;
}
