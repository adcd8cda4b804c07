#pragma once

#include "base/Clock.h"
#include "voice/engine/AudioDevice.h"
#include "voice/engine/FrameRing.h"
#include "voice/engine/Levels.h"
#include "voice/engine/PeerAddress.h"
#include "voice/engine/ReceptionCounter.h"
#include "voice/engine/ThreadPriority.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace talvora::voice {

class JitterBuffer;
class UdpSocket;

// A peer that has been silent this long may come back with a new synchronisation source (it
// restarted its engine); before that, packets with another source are refused.
inline constexpr int kSsrcTakeoverMs = 2000;

// Counters of the receive direction, for tests, diagnostics and the call's picture budget.
struct ReceiveStats {
    std::uint64_t packetsAccepted = 0; // from the peer, since the engine began
    // The peer's stream in this call, counted as RTCP receiver reports count it (ReceptionCounter).
    std::uint64_t packetsHeard = 0;
    std::uint64_t packetsExpected = 0;
    std::uint64_t packetsLost = 0;
    std::uint64_t refusedAddress = 0; // from anyone but the peer
    std::uint64_t refusedMalformed = 0;
    std::uint64_t refusedSsrc = 0;     // a second source while the first is alive
    std::uint64_t refusedUnopened = 0; // in a private call: held, forged, replayed or not sealed
    std::uint64_t framesPlayed = 0;    // frames written to the speaker
    std::uint64_t framesLost = 0;
    std::uint64_t framesLate = 0;
    std::uint64_t framesDuplicate = 0;
    std::uint64_t jitterRestarts = 0;
    int jitterTargetMs = 0;
    int playoutDelayMs = 0;
    // The speaker's buffer on the sound server in this call: its target now, and how often the
    // server reported that it ran dry.
    int playbackBufferMs = 0;
    std::uint64_t playbackUnderflows = 0;
};

// The peer to the speaker, on two threads. The network thread takes RTP datagrams from the
// peer's address only, refuses malformed ones and a second source, counts the stream's sequence
// numbers and hands each payload with its arrival time to the playback thread through a
// lock-free queue. The playback thread puts them in the jitter buffer, which it alone uses,
// takes one frame at a time from it (of the length the peer's packets carry, 10 to 60 ms),
// decodes it (or rebuilds it from the next packet's FEC data, or conceals it), applies the
// receive level, hands it to the echo canceller and writes it to the speaker, whose buffer paces
// the thread. Neither thread ever waits for the other, nor for
// anyone reading the statistics: those cross in atomics.
//
// start() and stop() run on the main thread. start() builds everything the threads use (so they
// never allocate) and stop() releases it after both have ended. The jitter buffer lasts across
// calls (its statistics stay readable after a call) and is reset at each start.
class ReceiveDirection {
public:
    // `deviceStopped` is called on the playback thread, once a call, when the speaker fails
    // mid-call; the thread then goes on with a SilentSink and opens the speaker again as soon as
    // it can (also one that was missing when the call started).
    // Both threads ask `priority` for real-time scheduling before they begin.
    ReceiveDirection(AudioBackend& audio, const Clock& clock, const PeerAddress& peer, EchoReference& echo,
                     ThreadPriority& priority, std::function<void()> deviceStopped);
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

    void receive(UdpSocket& socket, Call& call);
    void play(Call& call);
    // The playback thread: the packets that arrived since the last frame, into the jitter buffer.
    void takeArrivals(Call& call);
    void publishJitterStats();
    // Puts a newly opened speaker in use; false (the call unchanged) when there is none or its
    // rate cannot be served.
    bool useDevice(Call& call, std::unique_ptr<AudioSink> device);
    // Plays into silence at the speaker's pace until the speaker can be opened again.
    void useStandIn(Call& call);
    // The peer filter: true when a packet of `ssrc` from the peer belongs to this call;
    // `takeover` says that it begins a new stream (the peer restarted).
    bool acceptSource(std::uint32_t ssrc, std::int64_t nowMs, bool& takeover);

    AudioBackend& m_audio;
    const Clock& m_clock;
    const PeerAddress& m_peer;
    EchoReference& m_echo;
    ThreadPriority& m_priority;
    const std::function<void()> m_deviceStopped;

    std::atomic<bool> m_running{false};
    std::atomic<int> m_level{kUnityLevel};
    std::unique_ptr<Call> m_call; // this call's devices and buffers; playback thread only while running
    std::thread m_networkThread;
    std::thread m_playbackThread;

    // The playback thread's while running; the main thread's before start() lets it go.
    std::unique_ptr<JitterBuffer> m_jitter;

    // The peer filter's state and the stream's count: network thread only while running, reset
    // by start().
    bool m_havePeerSsrc = false;
    std::uint32_t m_peerSsrc = 0;
    std::int64_t m_lastPeerPacketMs = 0;
    ReceptionCounter m_reception;

    std::atomic<std::uint64_t> m_packetsAccepted{0};
    std::atomic<std::uint64_t> m_packetsHeard{0};
    std::atomic<std::uint64_t> m_packetsExpected{0};
    std::atomic<std::uint64_t> m_packetsLost{0};
    std::atomic<std::uint64_t> m_refusedAddress{0};
    std::atomic<std::uint64_t> m_refusedMalformed{0};
    std::atomic<std::uint64_t> m_refusedSsrc{0};
    std::atomic<std::uint64_t> m_refusedUnopened{0};
    std::atomic<std::uint64_t> m_framesPlayed{0};
    // The jitter buffer's statistics, as the playback thread last saw them.
    std::atomic<std::uint64_t> m_framesLost{0};
    std::atomic<std::uint64_t> m_framesLate{0};
    std::atomic<std::uint64_t> m_framesDuplicate{0};
    std::atomic<std::uint64_t> m_jitterRestarts{0};
    std::atomic<int> m_jitterTargetMs{0};
    std::atomic<int> m_playoutDelayMs{0};
    std::atomic<int> m_playbackBufferMs{0};
    std::atomic<std::uint64_t> m_playbackUnderflows{0};
};

} // namespace talvora::voice
