#pragma once

#include "base/Clock.h"
#include "voice/engine/AudioDevice.h"
#include "voice/engine/FrameRing.h"
#include "voice/engine/Levels.h"
#include "voice/engine/PeerAddress.h"
#include "voice/engine/ThreadPriority.h"
#include "voice/engine/TransmitPipeline.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace talvora::voice {

class UdpSocket;

// The microphone to the peer. Its capture thread reads a frame (10 or 20 ms) from the microphone
// (resampled to 48 kHz when the device runs at another rate), cancels the echo of what the
// speaker played, suppresses noise, applies the transmit level, encodes Opus and sends one RTP
// datagram to the peer; time runs on while nobody is to be sent to, so the peer sees the gap.
//
// start() and stop() run on the main thread. start() builds everything the capture thread uses
// (so the thread never allocates) and stop() releases it after the thread has ended. The level
// and the counter are atomics that any thread may read.
class TransmitDirection {
public:
    // `deviceStopped` is called on the capture thread, once a call, when the microphone fails
    // mid-call; the thread then goes on with a SilentSource and opens the microphone again as
    // soon as it can (also one that was missing when the call started).
    // The capture thread asks `priority` for real-time scheduling before it begins.
    TransmitDirection(AudioBackend& audio, const Clock& clock, const PeerAddress& peer, EchoReference& echo,
                      ThreadPriority& priority, std::function<void()> deviceStopped);
    ~TransmitDirection();
    TransmitDirection(const TransmitDirection&) = delete;
    TransmitDirection& operator=(const TransmitDirection&) = delete;

    // Opens the microphone and starts the capture thread sending through `socket`, which must
    // stay until stop(). Without a microphone it runs on a SilentSource and `missing` says why
    // (AudioProblem::None when the microphone opened). False when no thread could be started.
    // `frameMs` is the packets' length (isSendableFrameMs).
    bool start(UdpSocket& socket, const VoiceProcessing& processing, int frameMs, AudioProblem& missing);
    // Accepted when not running.
    void stop();

    bool running() const { return m_running.load(); }
    // 0..100 (see Levels.h), read by the capture thread on each frame.
    void setLevel(int level) { m_level.store(level); }
    int level() const { return m_level.load(); }
    std::uint64_t packetsSent() const { return m_packetsSent.load(); }
    // How far the speaker's echo was last measured behind its reference in the canceller, in ms
    // (kNoEchoLag before it was), and how often the pairing moved to keep it behind.
    static constexpr int kNoEchoLag = -1000;
    int echoLagMs() const { return m_echoLagMs.load(); }
    std::uint64_t echoReserveChanges() const { return m_echoReserveChanges.load(); }

private:
    struct Call;

    void capture(Call& call);
    // Puts a newly opened microphone in use; false (the call unchanged) when there is none or
    // its rate cannot be served.
    bool useDevice(Call& call, std::unique_ptr<AudioSource> device);
    // Records silence at the microphone's pace until the microphone can be opened again.
    void useStandIn(Call& call);
    // The frame the speaker played alongside the microphone's, into call.reference; false when
    // there is none to cancel against.
    bool takePlayedFrame(Call& call);
    // Moves the pairing of microphone and reference so that the echo, measured `lagMs` behind its
    // reference, comes a little after it (and so can be cancelled).
    void followEchoDelay(Call& call, int lagMs);

    AudioBackend& m_audio;
    const Clock& m_clock;
    const PeerAddress& m_peer;
    EchoReference& m_echo;
    ThreadPriority& m_priority;
    const std::function<void()> m_deviceStopped;

    std::atomic<bool> m_running{false};
    std::atomic<int> m_level{kUnityLevel};
    std::atomic<std::uint64_t> m_packetsSent{0};
    std::atomic<int> m_echoLagMs{kNoEchoLag};
    std::atomic<std::uint64_t> m_echoReserveChanges{0};
    std::unique_ptr<Call> m_call; // this call's devices and buffers; capture thread only while running
    std::thread m_thread;
};

} // namespace talvora::voice
