#pragma once

// In-memory stand-ins for everything the call session talks to. Each records what it was asked
// to do, so that tests can assert the exact effects of every event.

#include "base/Error.h"
#include "call/CallView.h"
#include "call/CallingView.h"
#include "call/RingTimer.h"
#include "call/RingTonePlayer.h"
#include "call/SignalSender.h"
#include "call/SignalWire.h"
#include "support/QtPrinters.h"
#include "voice/VoiceSession.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <utility>

namespace talvora::test {

struct SentDatagram {
    QString host;
    QByteArray payload;
    bool operator==(const SentDatagram&) const = default;
};

inline void PrintTo(const SentDatagram& d, std::ostream* os) {
    *os << d.host.toStdString() << " <- \"" << d.payload.toStdString() << '"';
}

class RecordingSignalSender : public SignalSender {
public:
    void send(const QString& host, const QByteArray& payload) override {
        if (!failWith.isEmpty()) {
            throw Error(failWith);
        }
        sent.append({host, payload});
        if (onSend) {
            onSend(host, payload);
        }
    }

    QList<SentDatagram> sent;
    QString failWith; // when set, every send raises an Error with this text
    std::function<void(const QString&, const QByteArray&)> onSend;
};

// Every voice session writes its operations into one shared log ("create", "SetTransmitPort
// 8500", ..., "destroy"), each prefixed with the session's number.
class FakeVoiceSession : public VoiceSession {
public:
    FakeVoiceSession(QStringList& log, int id) : m_log(log), m_id(id) { note("create"); }
    ~FakeVoiceSession() override { note("destroy"); }

    void setTransmitPort(int port) override { note(QStringLiteral("SetTransmitPort %1").arg(port)); }
    void setReceivePort(int port) override { note(QStringLiteral("SetReceivePort %1").arg(port)); }
    void setRemoteAddress(const QString& address) override { note("SetRemoteAddress " + address); }
    void start() override {
        note("Start");
        if (failStart) {
            throw Error(QStringLiteral("No microphone"));
        }
    }
    void stop() override {
        note("Stop");
        if (failStop) {
            throw Error(QStringLiteral("voice engine stopped badly"));
        }
    }
    void setMicLevel(int level) override { note(QStringLiteral("SetMicLevel %1").arg(level)); }
    quint64 packetsHeard() const override { return heard; }

    bool failStart = false;
    bool failStop = false;
    quint64 heard = 0;

private:
    void note(const QString& what) { m_log.append(QStringLiteral("#%1 %2").arg(m_id).arg(what)); }
    QStringList& m_log;
    int m_id;
};

class FakeVoiceFactory : public VoiceSessionFactory {
public:
    std::unique_ptr<VoiceSession> create() override {
        if (failCreate) {
            throw Error(QStringLiteral("The voice engine is not available"));
        }
        auto s = std::make_unique<FakeVoiceSession>(log, ++created);
        s->failStart = failStart;
        s->failStop = failStop;
        return s;
    }

    QStringList log;
    int created = 0;
    bool failCreate = false;
    bool failStart = false;
    bool failStop = false;
};

// A timer on a virtual clock that follows the rules of the real one: repeating while enabled,
// restarted by an interval change or by enabling, never firing with an interval of 0.
class FakeRingTimer : public RingTimer {
public:
    void setInterval(int intervalMs) override {
        if (intervalMs != m_intervalMs) {
            m_intervalMs = intervalMs;
            m_startedAtMs = m_nowMs;
            if (m_enabled) {
                ++restarts;
            }
        }
    }
    int interval() const override { return m_intervalMs; }
    void setEnabled(bool enabled) override {
        if (enabled != m_enabled) {
            m_enabled = enabled;
            m_startedAtMs = m_nowMs;
            if (enabled) {
                ++restarts;
            }
        }
    }
    bool isEnabled() const override { return m_enabled; }
    void setTimeoutHandler(std::function<void()> handler) override { m_handler = std::move(handler); }

    // Lets `ms` of virtual time pass, firing every tick that falls into it.
    void advance(qint64 ms) {
        const qint64 endMs = m_nowMs + ms;
        while (m_enabled && m_intervalMs > 0 && m_startedAtMs + m_intervalMs <= endMs) {
            m_nowMs = m_startedAtMs + m_intervalMs;
            m_startedAtMs = m_nowMs;
            ++ticks;
            if (m_handler) {
                m_handler();
            }
        }
        m_nowMs = endMs;
    }
    // Virtual milliseconds until the next tick, or -1.
    qint64 remainingMs() const {
        return (m_enabled && m_intervalMs > 0) ? m_startedAtMs + m_intervalMs - m_nowMs : -1;
    }

    int ticks = 0;
    int restarts = 0; // how often a count-down (re)started

private:
    std::function<void()> m_handler;
    int m_intervalMs = 1000;
    bool m_enabled = false;
    qint64 m_nowMs = 0;
    qint64 m_startedAtMs = 0;
};

class FakeRingTonePlayer : public RingTonePlayer {
public:
    void close() override {
        ops << "close";
        m_playing = false;
    }
    void open(const QString& path) override { ops << "open " + path; }
    void playFromStart() override {
        ops << "play";
        m_playing = true;
    }
    void stop() override {
        ops << "stop";
        m_playing = false;
    }
    bool isPlaying() const override {
        ++const_cast<FakeRingTonePlayer*>(this)->queries;
        return m_playing;
    }
    // The tone came to its end by itself.
    void finish() { m_playing = false; }

    QStringList ops;
    int queries = 0;

private:
    bool m_playing = false;
};

class FakeCallWindow : public CallView {
public:
    QString hostText() const override { return host; }
    void setHostText(const QString& text) override { host = text; }
    void focusHost() override { ++hostFocused; }
    void setCallerLine(const QString& text) override { callerLine = text; }
    void showIdlePicture() override { ++idlePictures; }
    void flashTaskbar() override { ++flashes; }
    void setVideoDestination(const QString& h) override { videoDestination = h; }

    QString host = hostPlaceholderText();
    QString callerLine;
    QString videoDestination;
    int hostFocused = 0;
    int idlePictures = 0;
    int flashes = 0;
};

// The calling dialog: shown or not, with its die and status line.
class FakeCallingDialog : public CallingView {
public:
    void startAnimation() override { animating = true; }
    void stopAnimation() override { animating = false; }
    void setStatusLine(const QString& text) override { status = text; }
    void showDialog() override {
        shown = true;
        ++modalShows;
    }
    void closeDialog() override {
        shown = false;
        ++closes;
    }

    bool animating = false;
    bool shown = false;
    QString status = QStringLiteral("Hailing...");
    int modalShows = 0;
    int closes = 0;
};

// Hands a received payload to a handler the way the signalling endpoint does.
inline void deliverSignal(SignalHandler& handler, const QByteArray& payload, const QString& sender) {
    const Signal s = classifySignal(payload);
    switch (s.kind) {
    case SignalKind::CallRequest:
        handler.callRequestReceived(s.callerId, sender);
        break;
    case SignalKind::Accept:
        handler.acceptReceived(sender);
        break;
    case SignalKind::Cancel:
        handler.cancelReceived(sender);
        break;
    case SignalKind::StatusText:
        handler.statusTextReceived(s.text);
        break;
    }
}

} // namespace talvora::test
