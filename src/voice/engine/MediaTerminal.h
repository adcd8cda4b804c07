#pragma once

#include "base/NetworkConfig.h"
#include "voice/CCNSMTLib.h"
#include "voice/engine/AudioDevice.h"
#include "base/Clock.h"
#include "voice/engine/TransmitPipeline.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace talvora::voice {

class JitterBuffer;
class UdpSocket;
template <std::size_t, std::size_t> class FrameRing;

// Arguments of the terminal's operations, as our engine reads them.
//   OpenReceive(codec, frameMs, device, options)
//   OpenTransmit(codec, frameMs, device, echoCancellation, noiseSuppression, options)
// codec 4 is Opus, the only codec; frameMs is the packet duration in milliseconds, 20 the only
// one; device 0 is the sound server's default device, the only one; echoCancellation and
// noiseSuppression are 1 (on) or 0 (off); options are reserved and must be 0.
//   StartTransmit(source) / StartReceive(sink): 0 is the live device, the only one.
//   SetTransmitLevel(channel, level) / SetReceiveLevel(channel, level): channel 0 (mono),
//   level 0..100 where 0 is silence and 80 unity gain (see Levels.h); other levels are clamped.
inline constexpr int kCodecOpus = 4;
inline constexpr int kFrameMs20 = 20;
inline constexpr int kDefaultDevice = 0;
inline constexpr int kLiveDevice = 0;
inline constexpr int kMonoChannel = 0;

// A peer that has been silent this long may come back with a new synchronisation source (it
// restarted its engine); before that, packets with another source are refused.
inline constexpr int kSsrcTakeoverMs = 2000;

// Counters for tests and diagnostics; read from any thread.
struct MediaTerminalStats {
    std::uint64_t packetsSent = 0;
    std::uint64_t packetsAccepted = 0;
    std::uint64_t refusedAddress = 0; // from anyone but the peer
    std::uint64_t refusedMalformed = 0;
    std::uint64_t refusedSsrc = 0;  // a second source while the first is alive
    std::uint64_t framesPlayed = 0; // frames written to the speaker
    std::uint64_t framesLost = 0;
    std::uint64_t framesLate = 0;
    std::uint64_t framesDuplicate = 0;
    std::uint64_t jitterRestarts = 0;
    int jitterTargetMs = 0;
    int playoutDelayMs = 0;
};

// Our voice engine: the media terminal the voice session drives. One direction carries the
// microphone through echo cancellation, noise suppression, the transmit level and Opus into RTP
// datagrams to the peer; the other takes the peer's datagrams through a jitter buffer, Opus and
// the receive level to the speaker. Each direction has its own threads (capture; network receive
// and playback), started and stopped by the main thread.
//
// The operations run on the main thread and return true when accepted. Repeated Initialize,
// Stop and Uninitialize calls are accepted and change nothing. A missing sound server, microphone
// or speaker does not stop the call: the network side runs on with a silent stand-in, and one
// notice() tells the user why there is no sound.
//
// One terminal per process is the production rule (kept by TCCNMediaTerm); tests run several,
// each on its own loopback address.
class MediaTerminal : public QObject, public ICCNMediaTerm {
    Q_OBJECT

public:
    MediaTerminal(NetworkConfig network, std::unique_ptr<AudioBackend> audio, const Clock& clock,
                  QObject* parent = nullptr);
    ~MediaTerminal() override;

    bool Initialize() override;
    bool Uninitialize() override;
    bool OpenReceive(int codec, int frameMs, int device, int options) override;
    bool OpenTransmit(int codec, int frameMs, int device, int echoCancellation, int noiseSuppression,
                      int options) override;
    bool SetTransmitDestination(const QString& address, int port) override;
    bool BindReceivePort(int port) override;
    bool StartTransmit(int source) override;
    bool StopTransmit() override;
    bool StartReceive(int sink) override;
    bool StopReceive() override;
    bool SetReceiveLevel(int channel, int level) override;
    bool SetTransmitLevel(int channel, int level) override;

    bool transmitting() const { return m_transmitRunning.load(); }
    bool receiving() const { return m_receiveRunning.load(); }
    int transmitLevel() const { return m_transmitLevel.load(); }
    int receiveLevel() const { return m_receiveLevel.load(); }
    MediaTerminalStats stats() const;

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

    struct TransmitDirection;
    struct ReceiveDirection;

    void captureLoop(TransmitDirection& direction);
    void networkLoop();
    void playbackLoop(ReceiveDirection& direction);
    void noteMissing(AudioProblem problem, bool microphone);
    void flushNotices();
    void postNotice(const QString& text);
    bool ensureSocket(std::uint16_t port, int* error = nullptr);
    void resetPeerFilter();

    const NetworkConfig m_network;
    const std::unique_ptr<AudioBackend> m_audio;
    const Clock& m_clock;

    bool m_initialized = false;
    bool m_receiveOpen = false;
    bool m_transmitOpen = false;
    TransmitOptions m_transmitOptions;
    unsigned m_pendingNotices = 0;
    unsigned m_shownNotices = 0;

    // The peer: where we send, and the only address we accept voice from (0: nobody).
    // Written on the main thread while the threads may read it.
    std::atomic<std::uint32_t> m_peerAddress{0};
    std::atomic<std::uint16_t> m_peerPort{0};

    std::unique_ptr<UdpSocket> m_socket; // replaced only while no thread runs
    std::atomic<int> m_transmitLevel{80};
    std::atomic<int> m_receiveLevel{80};

    // Each direction's devices, buffers and pipeline: built on the main thread at Start (so the
    // threads never allocate), used only by that direction's threads, released after Stop.
    std::atomic<bool> m_transmitRunning{false};
    std::unique_ptr<TransmitDirection> m_transmit;
    std::thread m_captureThread;

    std::atomic<bool> m_receiveRunning{false};
    std::unique_ptr<ReceiveDirection> m_receive;
    std::thread m_networkThread;
    std::thread m_playbackThread;
    mutable std::mutex m_jitterMutex; // guards m_jitter, held for one put or get
    std::unique_ptr<JitterBuffer> m_jitter;

    // What the speaker played, for the echo canceller: playback thread to capture thread.
    std::unique_ptr<FrameRing<kFrameSamples, 8>> m_echoReference;

    // Peer filter state, network thread only.
    bool m_havePeerSsrc = false;
    std::uint32_t m_peerSsrc = 0;
    std::int64_t m_lastPeerPacketMs = 0;

    std::atomic<std::uint64_t> m_packetsSent{0};
    std::atomic<std::uint64_t> m_packetsAccepted{0};
    std::atomic<std::uint64_t> m_refusedAddress{0};
    std::atomic<std::uint64_t> m_refusedMalformed{0};
    std::atomic<std::uint64_t> m_refusedSsrc{0};
    std::atomic<std::uint64_t> m_framesPlayed{0};
};

} // namespace talvora::voice
