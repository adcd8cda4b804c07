#include "voice/engine/ReceiveDirection.h"

#include "base/Error.h"
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
    std::unique_ptr<AudioSink> device;    // null when there is no speaker
    std::unique_ptr<AudioSink> standIn;   // takes frames at the same pace, used when `device` fails
    std::unique_ptr<Resampler> resampler; // null when the device runs at 48 kHz
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
    call->device = m_audio.openSink(missing);
    int rateHz = kSampleRateHz;
    if (call->device) {
        rateHz = call->device->sampleRateHz();
        try {
            if (rateHz != kSampleRateHz) {
                call->resampler = std::make_unique<Resampler>(kSampleRateHz, rateHz);
            }
        } catch (const Error&) {
            call->device.reset();
            missing = AudioProblem::NoDevice;
            rateHz = kSampleRateHz;
        }
    }
    if (!call->device && missing == AudioProblem::None) {
        missing = AudioProblem::NoDevice;
    }
    call->standIn = std::make_unique<SilentSink>(m_clock, rateHz);
    if (call->resampler) {
        call->resampled.resize(call->resampler->maxOutput(kFrameSamples));
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
    if (m_call->device) {
        m_call->device->interrupt();
    }
    m_call->standIn->interrupt();
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

void ReceiveDirection::play(Call& c) {
    pthread_setname_np(pthread_self(), "voice-playback");
    AudioSink* device = c.device ? c.device.get() : c.standIn.get();
    while (m_running.load(std::memory_order_relaxed)) {
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
        if (!device->write(out)) {
            if (!m_running.load() || device == c.standIn.get()) {
                break;
            }
            m_deviceStopped();
            device = c.standIn.get();
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
