#include "voice/CallVoice.h"

#include "voice/engine/Levels.h"
#include "voice/engine/MediaTerminal.h"

namespace talvora {

CallVoice::CallVoice(std::shared_ptr<voice::MediaTerminal> terminal) : m_terminal(std::move(terminal)) {
    m_terminal->beginCall();
}

CallVoice::~CallVoice() {
    m_terminal->endCall();
}

void CallVoice::setTransmitPort(int port) {
    m_transmitPort = port;
}

void CallVoice::setReceivePort(int port) {
    m_receivePort = port;
}

void CallVoice::setRemoteAddress(const QString& address) {
    m_remoteAddress = address;
}

void CallVoice::start() {
    m_terminal->setDatagramGuard(m_guard.get());
    m_terminal->openTransmit({.codec = voice::Codec::Opus,
                              .frameMs = voice::kFrameDurationMs,
                              .echoCancellation = true,
                              .noiseSuppression = true,
                              .gainControl = true});
    m_terminal->setTransmitDestination(m_remoteAddress, m_transmitPort);
    m_terminal->setTransmitSource(m_localAddress);
    m_terminal->openReceive({.codec = voice::Codec::Opus, .frameMs = voice::kFrameDurationMs});
    m_terminal->bindReceivePort(m_receivePort);
    m_terminal->startReceive();
    m_terminal->startTransmit();
    m_terminal->setReceiveLevel(voice::kUnityLevel);
    m_terminal->setTransmitLevel(voice::kUnityLevel);
}

void CallVoice::stop() {
    m_terminal->stopReceive();
    m_terminal->stopTransmit();
}

void CallVoice::setMicLevel(int level) {
    m_terminal->setTransmitLevel(level);
}

quint64 CallVoice::packetsHeard() const {
    return m_terminal->stats().packetsAccepted;
}

VoiceNetworkStats CallVoice::networkStats() const {
    const voice::MediaTerminalStats s = m_terminal->stats();
    return {s.packetsHeard, s.packetsExpected, s.packetsLost};
}

} // namespace talvora
