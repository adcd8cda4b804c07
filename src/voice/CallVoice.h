#pragma once

#include "voice/VoiceSession.h"

#include <QString>

#include <memory>

namespace talvora {

namespace voice {
class MediaTerminal;
}

// The voice of one call on the media terminal: Opus in 20 ms frames on the default devices,
// echo cancellation and noise suppression on, both levels starting at unity. Created stopped,
// started once, stopped once, then destroyed, which ends the call on the terminal. The
// terminal's results are not looked at: a step that fails leaves the call going on, and the
// terminal tells the user through its notices.
class CallVoice final : public VoiceSession {
public:
    // Shares the terminal: a call still running when the engine goes keeps it to its own end.
    explicit CallVoice(std::shared_ptr<voice::MediaTerminal> terminal);
    ~CallVoice() override;
    CallVoice(const CallVoice&) = delete;
    CallVoice& operator=(const CallVoice&) = delete;

    void setTransmitPort(int port) override;
    void setReceivePort(int port) override;
    void setRemoteAddress(const QString& address) override;
    void start() override;
    void stop() override;
    quint64 packetsHeard() const override;
    VoiceNetworkStats networkStats() const override;
    void setLocalAddress(const QString& address) override { m_localAddress = address; }
    void setDatagramGuard(std::shared_ptr<DatagramGuard> guard) override { m_guard = std::move(guard); }
    void setMicLevel(int level) override;

private:
    std::shared_ptr<voice::MediaTerminal> m_terminal;
    int m_transmitPort = 0;
    int m_receivePort = 0;
    QString m_remoteAddress;
    QString m_localAddress;
    std::shared_ptr<DatagramGuard> m_guard; // the terminal's threads use it until the call ends
};

} // namespace talvora
