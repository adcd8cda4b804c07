#include "voice/engine/ReceiveDirection.h"

#include "base/Error.h"
#include "voice/engine/DeviceSlot.h"
#include "voice/engine/JitterBuffer.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/Resampler.h"
#include "voice/engine/Rtp.h"
#include "voice/engine/SilentSink.h"
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

} // namespace

struct ReceiveDirection::Call {
    DeviceSlot<AudioSink> sink;           // the speaker, or a SilentSink while there is none
    bool onStandIn = false;               // `sink` holds the stand-in
    std::unique_ptr<Resampler> resampler; // null when the sink runs at 48 kHz
    std::int64_t nextRetryMs = 0;         // when to try the speaker again while on the stand-in
    bool stopReported = false;            // deviceStopped was called in this call
    ReceivePipeline pipeline;
    std::vector<std::int16_t> resampled;
    std::array<std::int16_t, kFrameSamples> frame{};
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
};

ReceiveDirection::ReceiveDirection(AudioBackend& audio, const Clock& clock, const PeerAddress& peer,
                                   EchoReference& echo, std::function<void()> deviceStopped)
    : m_audio(audio), m_clock(clock), m_peer(peer), m_echo(echo), m_deviceStopped(std::move(deviceStopped)),
      m_jitter(std::make_unique<JitterBuffer>()) {}

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
    {
        std::lock_guard lock(m_jitterMutex);
        m_jitter->reset();
    }
    m_havePeerSsrc = false;
    m_peerSsrc = 0;
    m_lastPeerPacketMs = 0;

    m_call = std::move(call);
    m_running.store(true);
    try {
        m_networkThread = std::thread([this, &socket] { receive(socket); });
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

bool ReceiveDirection::acceptSource(std::uint32_t ssrc, std::int64_t nowMs) {
    if (!m_havePeerSsrc || (ssrc != m_peerSsrc && nowMs - m_lastPeerPacketMs >= kSsrcTakeoverMs)) {
        const bool takeover = m_havePeerSsrc;
        m_havePeerSsrc = true;
        m_peerSsrc = ssrc;
        if (takeover) {
            std::lock_guard lock(m_jitterMutex);
            m_jitter->reset();
        }
    } else if (ssrc != m_peerSsrc) {
        return false;
    }
    m_lastPeerPacketMs = nowMs;
    return true;
}

void ReceiveDirection::receive(UdpSocket& socket) {
    pthread_setname_np(pthread_self(), "voice-network");
    std::array<std::uint8_t, kMaxRtpDatagramBytes> buffer{};
    while (m_running.load(std::memory_order_relaxed)) {
        const UdpSocket::Received received = socket.receive(buffer, kReceivePollMs);
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
        const auto packet =
            received.truncated ? std::nullopt
                               : parseRtpPacket(std::span<const std::uint8_t>(buffer.data(), received.bytes));
        if (!packet) {
            m_refusedMalformed.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const std::int64_t nowMs = m_clock.nowMs();
        if (!acceptSource(packet->header.ssrc, nowMs)) {
            m_refusedSsrc.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        {
            std::lock_guard lock(m_jitterMutex);
            m_jitter->put(packet->header.sequence, packet->payload, nowMs);
        }
        m_packetsAccepted.fetch_add(1, std::memory_order_relaxed);
    }
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
        if (c.resampled.size() < resampler->maxOutput(kFrameSamples)) {
            c.resampled.resize(resampler->maxOutput(kFrameSamples));
        }
    }
    device = c.sink.replace(std::move(device));
    c.resampler = std::move(resampler);
    c.onStandIn = false;
    return true;
}

void ReceiveDirection::useStandIn(Call& c) {
    // A fresh stand-in each time: its pace starts now, not where a former one left off.
    c.sink.replace(std::make_unique<SilentSink>(m_clock, kSampleRateHz));
    c.resampler.reset();
    c.onStandIn = true;
    c.nextRetryMs = m_clock.nowMs() + kDeviceRetryMs;
}

void ReceiveDirection::play(Call& c) {
    pthread_setname_np(pthread_self(), "voice-playback");
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
        JitterBuffer::Frame frame;
        {
            std::lock_guard lock(m_jitterMutex);
            frame = m_jitter->get(m_clock.nowMs(), c.packet);
        }
        c.pipeline.produce(frame, c.packet, m_level.load(std::memory_order_relaxed), c.frame);
        m_echo.push(c.frame);
        std::span<const std::int16_t> out(c.frame);
        if (c.resampler) {
            out =
                std::span<const std::int16_t>(c.resampled).first(c.resampler->process(c.frame, c.resampled));
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
    }
}

ReceiveStats ReceiveDirection::stats() const {
    ReceiveStats s;
    s.packetsAccepted = m_packetsAccepted.load();
    s.refusedAddress = m_refusedAddress.load();
    s.refusedMalformed = m_refusedMalformed.load();
    s.refusedSsrc = m_refusedSsrc.load();
    s.framesPlayed = m_framesPlayed.load();
    std::lock_guard lock(m_jitterMutex);
    const JitterBuffer::Stats& j = m_jitter->stats();
    s.framesLost = j.lost;
    s.framesLate = j.late;
    s.framesDuplicate = j.duplicates;
    s.jitterRestarts = j.restarts;
    s.jitterTargetMs = m_jitter->targetDelayMs();
    s.playoutDelayMs = m_jitter->lastPlayoutDelayMs();
    return s;
}

} // namespace talvora::voice
