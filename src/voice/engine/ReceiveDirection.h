#pragma once

#include "base/Clock.h"
#include "voice/engine/AudioDevice.h"
#include "voice/engine/FrameRing.h"
#include "voice/engine/Levels.h"
#include "voice/engine/PeerAddress.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace talvora::voice {

class JitterBuffer;
class UdpSocket;

// A peer that has been silent this long may come back with a new synchronisation source (it
// restarted its engine); before that, packets with another source are refused.
inline constexpr int kSsrcTakeoverMs = 2000;

// Counters of the receive direction, for tests and diagnostics.
struct ReceiveStats {
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

// The peer to the speaker, on two threads. The network thread takes RTP datagrams from the
// peer's address only, refuses malformed ones and a second source, and puts the payloads in the
// jitter buffer. The playback thread takes one frame per 20 ms from the jitter buffer, decodes
// it (or rebuilds it from the next packet's FEC data, or conceals it), applies the receive level,
// hands it to the echo canceller and writes it to the speaker, whose buffer paces the thread.
//
// start() and stop() run on the main thread. start() builds everything the threads use (so they
// never allocate) and stop() releases it after both have ended. The jitter buffer lasts across
// calls (its statistics stay readable after a call) and is reset at each start.
class ReceiveDirection {
public:
    // `deviceStopped` is called on the playback thread, once a call, when the speaker fails
    // mid-call; the thread then goes on with a SilentSink and opens the speaker again as soon as
    // it can (also one that was missing when the call started).
    ReceiveDirection(AudioBackend& audio, const Clock& clock, const PeerAddress& peer, EchoReference& echo,
                     std::function<void()> deviceStopped);
    ~ReceiveDirection();
    ReceiveDirection(const ReceiveDirection&) = delete;
    ReceiveDirection& operator=(const ReceiveDirection&) = delete;

    // Opens the speaker and starts both threads on `socket`, which must stay until stop().
    // Without a speaker it plays into a SilentSink and `missing` says why (AudioProblem::None
    // when the speaker opened). False when the threads could not be started.
    bool start(UdpSocket& socket, AudioProblem& missing);
    // Accepted when not running.
    void stop();

    bool running() const { return m_running.load(); }
    // 0..100 (see Levels.h), read by the playback thread on each frame.
    void setLevel(int level) { m_level.store(level); }
    int level() const { return m_level.load(); }
    // From any thread.
    ReceiveStats stats() const;

private:
    struct Call;

    void receive(UdpSocket& socket);
    void play(Call& call);
    // Puts a newly opened speaker in use; false (the call unchanged) when there is none or its
    // rate cannot be served.
    bool useDevice(Call& call, std::unique_ptr<AudioSink> device);
    // Plays into silence at the speaker's pace until the speaker can be opened again.
    void useStandIn(Call& call);
    // The peer filter: true when a packet of `ssrc` from the peer belongs to this call.
    bool acceptSource(std::uint32_t ssrc, std::int64_t nowMs);

    AudioBackend& m_audio;
    const Clock& m_clock;
    const PeerAddress& m_peer;
    EchoReference& m_echo;
    const std::function<void()> m_deviceStopped;

    std::atomic<bool> m_running{false};
    std::atomic<int> m_level{kUnityLevel};
    std::unique_ptr<Call> m_call; // this call's devices and buffers; playback thread only while running
    std::thread m_networkThread;
    std::thread m_playbackThread;

    mutable std::mutex m_jitterMutex; // guards m_jitter; held for one put, get, reset or read
    std::unique_ptr<JitterBuffer> m_jitter;

    // The peer filter's state: network thread only while running, reset by start().
    bool m_havePeerSsrc = false;
    std::uint32_t m_peerSsrc = 0;
    std::int64_t m_lastPeerPacketMs = 0;

    std::atomic<std::uint64_t> m_packetsAccepted{0};
    std::atomic<std::uint64_t> m_refusedAddress{0};
    std::atomic<std::uint64_t> m_refusedMalformed{0};
    std::atomic<std::uint64_t> m_refusedSsrc{0};
    std::atomic<std::uint64_t> m_framesPlayed{0};
};

} // namespace talvora::voice
