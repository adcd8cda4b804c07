#include "voice/engine/ReceiveDirection.h"

#include "base/Error.h"
#include "voice/engine/DeviceSlot.h"
#include "voice/engine/JitterBuffer.h"
#include "voice/engine/OpusCodec.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/Resampler.h"
#include "voice/engine/Rtp.h"
#include "voice/engine/SilentSink.h"
#include "voice/engine/SpscQueue.h"
#include "voice/engine/UdpSocket.h"

#include <array>
#include <chrono>
#include <pthread.h>
#include <system_error>
#include <vector>

namespace talvora::voice {

namespace {

// How long the network thread waits for a datagram before it looks at its stop flag.
constexpr int kReceivePollMs = 50;

// The network thread runs at real-time priority (a packet it takes late is one the playback
// thread conceals), so a flood must not be able to hold a core: past kFloodDatagrams in one
// kFloodWindowUs it sleeps out the rest of the window, and the kernel's queue takes (or drops)
// what comes meanwhile. A call brings a hundred datagrams a second.
constexpr int kFloodDatagrams = 200;
constexpr std::int64_t kFloodWindowUs = 10000;

// A packet on its way from the network thread to the playback thread.
struct Arrival {
    std::int64_t arrivalMs = 0;
    std::uint16_t sequence = 0;
    std::uint8_t frameMs = 0; // the length of sound the packet carries
    bool newStream = false;   // the peer restarted: the jitter buffer starts over with this one
    std::uint16_t bytes = 0;
    std::array<std::uint8_t, kMaxOpusPacketBytes> payload{};
};

// 0.64 s of 10 ms packets (1.28 s of 20 ms ones): a playback thread stalled longer than that
// would find them too late to play anyway.
using ArrivalQueue = SpscQueue<Arrival, 64>;

} // namespace

struct ReceiveDirection::Call {
    DeviceSlot<AudioSink> sink;           // the speaker, or a SilentSink while there is none
    bool onStandIn = false;               // `sink` holds the stand-in
    std::unique_ptr<Resampler> resampler; // null when the sink runs at 48 kHz
    std::int64_t nextRetryMs = 0;         // when to try the speaker again while on the stand-in
    bool stopReported = false;            // deviceStopped was called in this call
    std::uint64_t underflowsSeen = 0;     // of the device in use
    ReceivePipeline pipeline;
    std::vector<std::int16_t> resampled;
    std::array<std::int16_t, kMaxReceivedFrameSamples> frame{};
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    ArrivalQueue arrivals;
    Arrival arrival; // the network thread's, filled before it is queued
    Arrival taken;   // the playback thread's, taken from the queue
};

ReceiveDirection::ReceiveDirection(AudioBackend& audio, const Clock& clock, const PeerAddress& peer,
                                   EchoReference& echo, ThreadPriority& priority,
                                   std::function<void()> deviceStopped)
    : m_audio(audio), m_clock(clock), m_peer(peer), m_echo(echo), m_priority(priority),
      m_deviceStopped(std::move(deviceStopped)), m_jitter(std::make_unique<JitterBuffer>()) {}

ReceiveDirection::~ReceiveDirection() {
    stop();
}

bool ReceiveDirection::start(UdpSocket& socket, AudioProblem& missing) {
    auto call = std::make_unique<Call>();
    missing = AudioProblem::None;
    if (!useDevice(*call, m_audio.openSink(missing))) {
        if (missing == AudioProblem::None) {
            missing = AudioProblem::NoDevice;
        }
        useStandIn(*call);
    }
    m_jitter->reset();
    publishJitterStats();
    m_havePeerSsrc = false;
    m_peerSsrc = 0;
    m_lastPeerPacketMs = 0;
    m_reception.reset();
    m_packetsHeard.store(0);
    m_packetsExpected.store(0);
    m_packetsLost.store(0);
    m_playbackUnderflows.store(0);

    m_call = std::move(call);
    m_running.store(true);
    try {
        m_networkThread = std::thread([this, &socket, c = m_call.get()] { receive(socket, *c); });
        m_playbackThread = std::thread([this, c = m_call.get()] { play(*c); });
    } catch (const std::system_error&) {
        m_running.store(false);
        if (m_networkThread.joinable()) {
            m_networkThread.join();
        }
        m_call.reset();
        return false;
    }
    return true;
}

void ReceiveDirection::stop() {
    if (!m_running.exchange(false)) {
        return;
    }
    m_call->sink.interrupt();
    m_networkThread.join();
    m_playbackThread.join();
    m_call.reset();
}

bool ReceiveDirection::acceptSource(std::uint32_t ssrc, std::int64_t nowMs, bool& takeover) {
    takeover = false;
    if (!m_havePeerSsrc || (ssrc != m_peerSsrc && nowMs - m_lastPeerPacketMs >= kSsrcTakeoverMs)) {
        takeover = m_havePeerSsrc;
        m_havePeerSsrc = true;
        m_peerSsrc = ssrc;
    } else if (ssrc != m_peerSsrc) {
        return false;
    }
    m_lastPeerPacketMs = nowMs;
    return true;
}

void ReceiveDirection::receive(UdpSocket& socket, Call& c) {
    pthread_setname_np(pthread_self(), "voice-network");
    m_priority.raiseAudioThread();
    // Room for a sealed datagram of the largest packet, and for the packet it opens to.
    std::array<std::uint8_t, kMaxRtpDatagramBytes + DatagramGuard::kMaxOverheadBytes> buffer{};
    std::array<std::uint8_t, kMaxRtpDatagramBytes + DatagramGuard::kMaxOverheadBytes> opened{};
    std::int64_t windowStartUs = m_clock.nowUs();
    int inWindow = 0;
    while (m_running.load(std::memory_order_relaxed)) {
        const UdpSocket::Received received = socket.receive(buffer, kReceivePollMs);
        const std::int64_t nowUs = m_clock.nowUs();
        if (nowUs - windowStartUs >= kFloodWindowUs) {
            windowStartUs = nowUs;
            inWindow = 0;
        } else if (received.arrived && ++inWindow > kFloodDatagrams) {
            std::this_thread::sleep_for(std::chrono::microseconds(kFloodWindowUs - (nowUs - windowStartUs)));
        }
        if (!received.arrived) {
            if (received.error) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kReceivePollMs));
            }
            continue;
        }
        // Only the peer of this call may speak into it.
        const std::uint32_t peer = m_peer.ipv4.load(std::memory_order_relaxed);
        if (peer == 0 || received.address != peer) {
            m_refusedAddress.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        std::optional<std::span<const std::uint8_t>> datagram;
        if (!received.truncated) {
            datagram = std::span<const std::uint8_t>(buffer.data(), received.bytes);
            // In a private call only what opens with the call's key is voice.
            if (DatagramGuard* guard = m_peer.guard.load(std::memory_order_acquire)) {
                datagram = guard->open(*datagram, opened);
                if (!datagram) {
                    m_refusedUnopened.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
            }
        }
        const auto packet = datagram ? parseRtpPacket(*datagram) : std::nullopt;
        const int frameMs = packet ? OpusVoiceDecoder::packetMs(packet->payload) : 0;
        if (frameMs == 0) {
            m_refusedMalformed.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const std::int64_t nowMs = m_clock.nowMs();
        bool takeover = false;
        if (!acceptSource(packet->header.ssrc, nowMs, takeover)) {
            m_refusedSsrc.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (takeover) {
            m_reception.newSource();
        }
        m_reception.heard(packet->header.sequence);
        m_packetsHeard.store(m_reception.packetsHeard(), std::memory_order_relaxed);
        m_packetsExpected.store(m_reception.packetsExpected(), std::memory_order_relaxed);
        m_packetsLost.store(m_reception.packetsLost(), std::memory_order_relaxed);
        m_packetsAccepted.fetch_add(1, std::memory_order_relaxed);

        c.arrival.arrivalMs = nowMs;
        c.arrival.sequence = packet->header.sequence;
        c.arrival.frameMs = static_cast<std::uint8_t>(frameMs);
        // A packet that cannot be queued must not lose the news of a new stream.
        c.arrival.newStream = c.arrival.newStream || takeover;
        c.arrival.bytes = static_cast<std::uint16_t>(packet->payload.size());
        std::copy(packet->payload.begin(), packet->payload.end(), c.arrival.payload.begin());
        if (c.arrivals.push(c.arrival)) {
            c.arrival.newStream = false;
        }
    }
}

void ReceiveDirection::takeArrivals(Call& c) {
    while (c.arrivals.pop(c.taken)) {
        if (c.taken.frameMs != m_jitter->frameMs()) {
            // The peer's packets changed length: a new stream as far as playout goes.
            m_jitter->restart(c.taken.frameMs);
        } else if (c.taken.newStream) {
            m_jitter->reset();
        }
        m_jitter->put(c.taken.sequence, std::span(c.taken.payload).first(c.taken.bytes), c.taken.arrivalMs);
    }
}

void ReceiveDirection::publishJitterStats() {
    const JitterBuffer::Stats& j = m_jitter->stats();
    m_framesLost.store(j.lost, std::memory_order_relaxed);
    m_framesLate.store(j.late, std::memory_order_relaxed);
    m_framesDuplicate.store(j.duplicates, std::memory_order_relaxed);
    m_jitterRestarts.store(j.restarts, std::memory_order_relaxed);
    m_jitterTargetMs.store(m_jitter->targetDelayMs(), std::memory_order_relaxed);
    m_playoutDelayMs.store(m_jitter->lastPlayoutDelayMs(), std::memory_order_relaxed);
}

bool ReceiveDirection::useDevice(Call& c, std::unique_ptr<AudioSink> device) {
    if (!device) {
        return false;
    }
    std::unique_ptr<Resampler> resampler;
    if (device->sampleRateHz() != kSampleRateHz) {
        try {
            resampler = std::make_unique<Resampler>(kSampleRateHz, device->sampleRateHz());
        } catch (const Error&) {
            return false;
        }
        if (c.resampled.size() < resampler->maxOutput(kMaxReceivedFrameSamples)) {
            c.resampled.resize(resampler->maxOutput(kMaxReceivedFrameSamples));
        }
    }
    device = c.sink.replace(std::move(device));
    c.resampler = std::move(resampler);
    c.onStandIn = false;
    c.underflowsSeen = 0;
    return true;
}

void ReceiveDirection::useStandIn(Call& c) {
    // A fresh stand-in each time: its pace starts now, not where a former one left off.
    c.sink.replace(std::make_unique<SilentSink>(m_clock, kSampleRateHz));
    c.resampler.reset();
    c.onStandIn = true;
    c.underflowsSeen = 0;
    c.nextRetryMs = m_clock.nowMs() + kDeviceRetryMs;
}

void ReceiveDirection::play(Call& c) {
    pthread_setname_np(pthread_self(), "voice-playback");
    m_priority.raiseAudioThread();
    while (m_running.load(std::memory_order_relaxed)) {
        if (c.onStandIn && m_clock.nowMs() >= c.nextRetryMs) {
            // The speaker (or the server's default one) may be back. Opening allocates and asks
            // the sound server, which this thread otherwise never does; it happens only while
            // there is no speaker to play to.
            AudioProblem problem = AudioProblem::None;
            if (!useDevice(c, m_audio.openSink(problem))) {
                c.nextRetryMs = m_clock.nowMs() + kDeviceRetryMs;
            }
        }
        takeArrivals(c);
        const JitterBuffer::Frame frame = m_jitter->get(m_clock.nowMs(), c.packet);
        publishJitterStats();
        const std::span<std::int16_t> played = std::span(c.frame).first(samplesFor(m_jitter->frameMs()));
        c.pipeline.produce(frame, c.packet, m_level.load(std::memory_order_relaxed), played);
        for (std::size_t at = 0; at + kBlockSamples <= played.size(); at += kBlockSamples) {
            m_echo.push(played.subspan(at, kBlockSamples));
        }
        std::span<const std::int16_t> out(played);
        if (c.resampler) {
            out = std::span<const std::int16_t>(c.resampled).first(c.resampler->process(played, c.resampled));
        }
        if (!c.sink.get()->write(out)) {
            if (!m_running.load() || c.onStandIn) {
                break; // the stand-in fails only when interrupted
            }
            if (!c.stopReported) {
                c.stopReported = true;
                m_deviceStopped();
            }
            useStandIn(c);
            continue;
        }
        m_framesPlayed.fetch_add(1, std::memory_order_relaxed);
        const AudioSink& sink = *c.sink.get();
        const std::uint64_t underflows = sink.underflows();
        if (underflows > c.underflowsSeen) {
            m_playbackUnderflows.fetch_add(underflows - c.underflowsSeen, std::memory_order_relaxed);
        }
        c.underflowsSeen = underflows;
        m_playbackBufferMs.store(sink.bufferMs(), std::memory_order_relaxed);
    }
}

ReceiveStats ReceiveDirection::stats() const {
    ReceiveStats s;
    s.packetsAccepted = m_packetsAccepted.load();
    s.packetsHeard = m_packetsHeard.load();
    s.packetsExpected = m_packetsExpected.load();
    s.packetsLost = m_packetsLost.load();
    s.refusedAddress = m_refusedAddress.load();
    s.refusedMalformed = m_refusedMalformed.load();
    s.refusedSsrc = m_refusedSsrc.load();
    s.refusedUnopened = m_refusedUnopened.load();
    s.framesPlayed = m_framesPlayed.load();
    s.framesLost = m_framesLost.load();
    s.framesLate = m_framesLate.load();
    s.framesDuplicate = m_framesDuplicate.load();
    s.jitterRestarts = m_jitterRestarts.load();
    s.jitterTargetMs = m_jitterTargetMs.load();
    s.playoutDelayMs = m_playoutDelayMs.load();
    s.playbackBufferMs = m_playbackBufferMs.load();
    s.playbackUnderflows = m_playbackUnderflows.load();
    return s;
}

} // namespace talvora::voice
