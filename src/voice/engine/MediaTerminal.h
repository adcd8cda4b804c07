#pragma once

#include "base/Clock.h"
#include "base/NetworkConfig.h"
#include "voice/engine/AudioDevice.h"
#include "voice/engine/AudioFormat.h"
#include "voice/engine/FrameRing.h"
#include "voice/engine/PeerAddress.h"
#include "voice/engine/ReceiveDirection.h"
#include "voice/engine/ThreadPriority.h"
#include "voice/engine/TransmitDirection.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

namespace talvora::voice {

class UdpSocket;

enum class Codec {
    Opus, // VOIP mode, 32 kbit/s, in-band FEC
};

// How a call's voice goes out: Opus in frames of 10 or 20 ms; other frame lengths are refused.
// Both devices are the sound server's default ones.
struct TransmitOptions {
    Codec codec = Codec::Opus;
    int frameMs = kFrameDurationMs;
    bool echoCancellation = true;
    bool noiseSuppression = true;
    bool gainControl = true;
};

// How a call's voice comes in; the same rules as for TransmitOptions. Whatever this says, the
// peer's packets are played at the length they carry (10 to 60 ms).
struct ReceiveOptions {
    Codec codec = Codec::Opus;
    int frameMs = kFrameDurationMs;
};

// Counters for tests and diagnostics; read from any thread.
struct MediaTerminalStats : ReceiveStats {
    std::uint64_t packetsSent = 0;
    int echoLagMs = 0;                    // TransmitDirection::echoLagMs()
    std::uint64_t echoReserveChanges = 0; // TransmitDirection::echoReserveChanges()
};

// Our voice engine: the media terminal the voice session drives. It composes the two directions
// (TransmitDirection: microphone to peer; ReceiveDirection: peer to speaker, each with its own
// threads), the UDP socket they share, the peer's address and the echo reference that the
// playback thread hands to the capture thread.
//
// A call runs beginCall(), openTransmit(), setTransmitDestination(), openReceive(),
// bindReceivePort(), startReceive(), startTransmit() and the levels, then the stops and
// endCall(). The operations run on the main thread and return true when accepted; one is
// refused when what it needs is missing (no call begun, its direction not opened, no receive
// port bound). Repeated beginCall, start, stop and endCall calls are accepted and change nothing.
//
// A missing sound server, microphone or speaker does not stop the call: the network side runs on
// with a silent stand-in, and one notice() tells the user why there is no sound. One terminal
// per process is the production rule (VoiceEngine keeps it); tests run several, each on its own
// loopback address.
class MediaTerminal : public QObject {
    Q_OBJECT

public:
    // `priority` raises the voice threads (the system's own unless a test brings another).
    MediaTerminal(NetworkConfig network, std::unique_ptr<AudioBackend> audio, const Clock& clock,
                  std::shared_ptr<PriorityControl> priority = std::make_shared<SystemPriorityControl>(),
                  QObject* parent = nullptr);
    ~MediaTerminal() override;

    // The start of a call: both levels back to unity, every notice may be given again.
    bool beginCall();
    // The end of a call: stops both directions, releases the voice port, forgets the peer.
    bool endCall();
    bool openTransmit(const TransmitOptions& options);
    bool openReceive(const ReceiveOptions& options);
    // Resolved once: the peer's address is also the only one voice is accepted from.
    bool setTransmitDestination(const QString& address, int port);
    // The local address voice leaves from: the one the call's signalling arrived on, so that a
    // peer that takes voice only from the address it called hears us. Empty: any.
    void setTransmitSource(const QString& address);
    // On the bind address of the NetworkConfig.
    bool bindReceivePort(int port);
    // Seals the call's voice and opens the peer's (a private call); null sends and takes it as
    // it is. The caller keeps the guard alive until endCall(), which forgets it.
    void setDatagramGuard(DatagramGuard* guard) { m_peer.guard.store(guard, std::memory_order_release); }
    bool startTransmit();
    bool stopTransmit();
    // Needs the receive port bound.
    bool startReceive();
    bool stopReceive();
    // 0..100, 0 silence, 80 unity gain, half a decibel a step (Levels.h); others are clamped.
    bool setTransmitLevel(int level);
    bool setReceiveLevel(int level);

    bool transmitting() const { return m_transmit.running(); }
    bool receiving() const { return m_receive.running(); }
    int transmitLevel() const { return m_transmit.level(); }
    int receiveLevel() const { return m_receive.level(); }
    const TransmitOptions& transmitOptions() const { return m_transmitOptions; }
    MediaTerminalStats stats() const;
    // What the voice threads were given so far.
    ThreadPriority::Counts priorityCounts() const { return m_priority->counts(); }

signals:
    // A sentence for the status line: why this call has no sound, or lost it. Delivered on the
    // main thread, at most once per cause and call.
    void notice(const QString& text);

private:
    enum NoticeCause : unsigned {
        kNoServerForMic = 1,
        kNoServerForSpeaker = 2,
        kNoMicrophone = 4,
        kNoSpeaker = 8,
    };

    enum StoppedDevice : unsigned {
        kMicrophoneStopped = 1,
        kSpeakerStopped = 2,
    };

    void noteMissing(AudioProblem problem, bool microphone);
    void flushNotices();
    // Main thread only.
    void postNotice(const QString& text);
    // From a direction's thread, once a call per device.
    void deviceStopped(unsigned device);
    // Queued by deviceStopped() (by name: it carries no data across).
    Q_INVOKABLE void noteStoppedDevices();
    // Queued once in the terminal's life when a voice thread was left at normal priority.
    Q_INVOKABLE void noteNormalPriority();
    bool ensureSocket(std::uint16_t port, int* error = nullptr);

    const NetworkConfig m_network;
    // Before the backend: the backend's threads may still ask through it while it goes.
    const std::shared_ptr<ThreadPriority> m_priority;
    const std::unique_ptr<AudioBackend> m_audio;

    // Main thread only.
    bool m_inCall = false;
    bool m_receiveOpen = false;
    bool m_transmitOpen = false;
    TransmitOptions m_transmitOptions;
    unsigned m_pendingNotices = 0;
    unsigned m_shownNotices = 0;

    // Set by the directions' threads (StoppedDevice bits), taken by the main thread.
    std::atomic<unsigned> m_stoppedDevices{0};

    // Shared by both directions' threads; the socket is replaced only while neither runs.
    PeerAddress m_peer;
    std::unique_ptr<UdpSocket> m_socket;
    EchoReference m_echoReference;

    // Declared last: they stop their threads before anything above goes.
    TransmitDirection m_transmit;
    ReceiveDirection m_receive;
};

} // namespace talvora::voice
