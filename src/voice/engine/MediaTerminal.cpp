#include "voice/engine/MediaTerminal.h"

#include "base/Error.h"
#include "base/HostResolver.h"
#include "voice/engine/UdpSocket.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace talvora::voice {

MediaTerminal::MediaTerminal(NetworkConfig network, std::unique_ptr<AudioBackend> audio, const Clock& clock,
                             std::shared_ptr<PriorityControl> priority, QObject* parent)
    : QObject(parent), m_network(std::move(network)),
      m_priority(std::make_shared<ThreadPriority>(
          std::move(priority),
          // On the thread that was refused: only a wake-up of the main thread, which logs.
          [this] { QMetaObject::invokeMethod(this, "noteNormalPriority", Qt::QueuedConnection); })),
      m_audio(std::move(audio)), m_transmit(*m_audio, clock, m_peer, m_echoReference, *m_priority,
                                            [this] { deviceStopped(kMicrophoneStopped); }),
      m_receive(*m_audio, clock, m_peer, m_echoReference, *m_priority,
                [this] { deviceStopped(kSpeakerStopped); }) {
    m_audio->useThreadPriority(m_priority);
}

MediaTerminal::~MediaTerminal() {
    endCall();
}

bool MediaTerminal::beginCall() {
    if (m_inCall) {
        return true;
    }
    m_inCall = true;
    m_receiveOpen = false;
    m_transmitOpen = false;
    m_transmit.setLevel(kUnityLevel);
    m_receive.setLevel(kUnityLevel);
    m_pendingNotices = 0;
    m_shownNotices = 0;
    return true;
}

bool MediaTerminal::endCall() {
    stopReceive();
    stopTransmit();
    if (!m_inCall) {
        return true;
    }
    m_inCall = false;
    m_receiveOpen = false;
    m_transmitOpen = false;
    m_socket.reset();
    m_peer.clear();
    return true;
}

bool MediaTerminal::openReceive(const ReceiveOptions& options) {
    if (!m_inCall || options.codec != Codec::Opus || !isSendableFrameMs(options.frameMs)) {
        return false;
    }
    m_receiveOpen = true;
    return true;
}

bool MediaTerminal::openTransmit(const TransmitOptions& options) {
    if (!m_inCall || options.codec != Codec::Opus || !isSendableFrameMs(options.frameMs)) {
        return false;
    }
    m_transmitOptions = options;
    m_transmitOpen = true;
    return true;
}

void MediaTerminal::setTransmitSource(const QString& address) {
    bool ok = false;
    const quint32 ipv4 = QHostAddress(address).toIPv4Address(&ok);
    m_peer.source.store(ok ? ipv4 : 0);
}

bool MediaTerminal::setTransmitDestination(const QString& address, int port) {
    if (!m_inCall || port <= 0 || port > 65535) {
        return false;
    }
    try {
        const QHostAddress resolved = resolveIPv4(address);
        bool ok = false;
        const quint32 ipv4 = resolved.toIPv4Address(&ok);
        if (!ok || ipv4 == 0) {
            throw Error(QStringLiteral("%1 is not an IPv4 address.").arg(address));
        }
        m_peer.ipv4.store(ipv4);
        m_peer.port.store(static_cast<std::uint16_t>(port));
        return true;
    } catch (const Error& e) {
        m_peer.clear();
        postNotice(tr("Voice cannot reach %1: %2").arg(address, e.text()));
        return false;
    }
}

bool MediaTerminal::ensureSocket(std::uint16_t port, int* error) {
    if (m_socket && (port == 0 || m_socket->localPort() == port)) {
        return true;
    }
    if (m_transmit.running() || m_receive.running()) {
        if (error) {
            *error = EBUSY;
        }
        return false; // the threads use the socket
    }
    m_socket.reset();
    m_socket = UdpSocket::bind(m_network.bindAddress.toIPv4Address(), port, error);
    return m_socket != nullptr;
}

bool MediaTerminal::bindReceivePort(int port) {
    if (!m_inCall || port <= 0 || port > 65535) {
        return false;
    }
    int error = 0;
    if (!ensureSocket(static_cast<std::uint16_t>(port), &error)) {
        if (error == EADDRINUSE) {
            postNotice(tr("The voice port %1 is in use: you cannot hear the other side.").arg(port));
        } else {
            postNotice(tr("The voice port %1 cannot be opened (%2): you cannot hear the other side.")
                           .arg(port)
                           .arg(QString::fromLocal8Bit(std::strerror(error))));
        }
        return false;
    }
    return true;
}

void MediaTerminal::noteMissing(AudioProblem problem, bool microphone) {
    if (problem == AudioProblem::None) {
        return;
    }
    if (problem == AudioProblem::NoServer) {
        m_pendingNotices |= microphone ? kNoServerForMic : kNoServerForSpeaker;
    } else {
        m_pendingNotices |= microphone ? kNoMicrophone : kNoSpeaker;
    }
    // Both directions start in one go; the notice waits for the event loop so that it can speak
    // of both at once.
    QTimer::singleShot(0, this, &MediaTerminal::flushNotices);
}

void MediaTerminal::flushNotices() {
    const unsigned fresh = m_pendingNotices & ~m_shownNotices;
    m_pendingNotices = 0;
    if (fresh == 0) {
        return;
    }
    QString text;
    if (fresh & (kNoServerForMic | kNoServerForSpeaker)) {
        text = tr("No sound server is running: this call has no sound.");
        m_shownNotices |= kNoServerForMic | kNoServerForSpeaker | kNoMicrophone | kNoSpeaker;
    } else if ((fresh & kNoMicrophone) && (fresh & kNoSpeaker)) {
        text = tr("No microphone and no speaker were found: this call has no sound.");
    } else if (fresh & kNoMicrophone) {
        text = tr("No microphone was found: the other side cannot hear you.");
    } else {
        text = tr("No speaker was found: you cannot hear the other side.");
    }
    m_shownNotices |= fresh;
    emit notice(text);
}

void MediaTerminal::postNotice(const QString& text) {
    // Called in the middle of an operation: the notice follows from the event loop.
    QMetaObject::invokeMethod(
        this, [this, text] { emit notice(text); }, Qt::QueuedConnection);
}

void MediaTerminal::deviceStopped(unsigned device) {
    // On a direction's thread. What stopped crosses to the main thread in an atomic and the text
    // is made there; the queued call only wakes the main thread and carries nothing of ours. Qt
    // hands a queued call over under a lock of its own, which ThreadSanitizer cannot see in an
    // uninstrumented Qt: a functor or a text built here and read there is reported as a race.
    m_stoppedDevices.fetch_or(device);
    QMetaObject::invokeMethod(this, "noteStoppedDevices", Qt::QueuedConnection);
}

void MediaTerminal::noteStoppedDevices() {
    const unsigned stopped = m_stoppedDevices.exchange(0);
    if (stopped & kMicrophoneStopped) {
        emit notice(tr("The microphone stopped working: the other side cannot hear you."));
    }
    if (stopped & kSpeakerStopped) {
        emit notice(tr("The speaker stopped working: you cannot hear the other side."));
    }
}

void MediaTerminal::noteNormalPriority() {
    // The log, never a box: the call works, it is only less robust on a busy machine.
    qWarning("Voice: neither real-time scheduling nor a raised priority was granted to the "
             "voice threads (no rtkit, or it refused); they run at normal priority, and the "
             "sound may break up while the machine is busy.");
}

bool MediaTerminal::startTransmit() {
    if (!m_inCall || !m_transmitOpen) {
        return false;
    }
    if (m_transmit.running()) {
        return true;
    }
    if (!ensureSocket(0)) {
        return false;
    }
    AudioProblem missing = AudioProblem::None;
    const bool started = m_transmit.start(*m_socket,
                                          {m_transmitOptions.echoCancellation,
                                           m_transmitOptions.noiseSuppression, m_transmitOptions.gainControl},
                                          m_transmitOptions.frameMs, missing);
    noteMissing(missing, true);
    return started;
}

bool MediaTerminal::stopTransmit() {
    m_transmit.stop();
    return true;
}

bool MediaTerminal::startReceive() {
    if (!m_inCall || !m_receiveOpen || !m_socket) {
        return false;
    }
    if (m_receive.running()) {
        return true;
    }
    AudioProblem missing = AudioProblem::None;
    const bool started = m_receive.start(*m_socket, missing);
    noteMissing(missing, false);
    return started;
}

bool MediaTerminal::stopReceive() {
    m_receive.stop();
    return true;
}

bool MediaTerminal::setReceiveLevel(int level) {
    if (!m_inCall) {
        return false;
    }
    m_receive.setLevel(std::clamp(level, 0, kMaxLevel));
    return true;
}

bool MediaTerminal::setTransmitLevel(int level) {
    if (!m_inCall) {
        return false;
    }
    m_transmit.setLevel(std::clamp(level, 0, kMaxLevel));
    return true;
}

MediaTerminalStats MediaTerminal::stats() const {
    MediaTerminalStats s;
    static_cast<ReceiveStats&>(s) = m_receive.stats();
    s.packetsSent = m_transmit.packetsSent();
    s.echoLagMs = m_transmit.echoLagMs();
    s.echoReserveChanges = m_transmit.echoReserveChanges();
    return s;
}

} // namespace talvora::voice
