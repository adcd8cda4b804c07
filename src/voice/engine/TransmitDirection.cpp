#include "voice/engine/TransmitDirection.h"

#include "base/Error.h"
#include "voice/engine/Resampler.h"
#include "voice/engine/Rtp.h"
#include "voice/engine/SampleFifo.h"
#include "voice/engine/SilentSource.h"
#include "voice/engine/UdpSocket.h"

#include <array>
#include <pthread.h>
#include <random>
#include <system_error>
#include <vector>

namespace talvora::voice {

namespace {

// The echo canceller needs the speaker's frames in a steady relation to the microphone's: each
// jump in that relation makes it converge anew. The two threads wake at their own moments, so
// the capture side keeps a reserve of played frames (kEchoReserveFrames) and takes one per
// microphone frame; it only realigns when the reserve runs dry or grows past
// kMaxEchoBacklogFrames (the two devices' clocks drift apart). The reserve delays the
// reference by 40 ms, well inside the canceller's tail.
constexpr std::size_t kEchoReserveFrames = 2;
constexpr std::size_t kMaxEchoBacklogFrames = 6;

} // namespace

struct TransmitDirection::Call {
    UdpSocket* socket = nullptr;
    std::unique_ptr<AudioSource> device;  // null when there is no microphone
    std::unique_ptr<AudioSource> standIn; // silence at the same pace, used when `device` fails
    std::unique_ptr<Resampler> resampler; // null when the device runs at 48 kHz
    std::unique_ptr<TransmitPipeline> pipeline;
    std::vector<std::int16_t> block;
    std::vector<std::int16_t> resampled;
    SampleFifo fifo{kFrameSamples * 4};
    std::array<std::int16_t, kFrameSamples> frame{};
    std::array<std::int16_t, kFrameSamples> reference{};
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::array<std::uint8_t, kMaxRtpDatagramBytes> datagram{};
    bool referencePrimed = false; // the reserve of played frames is built up
    // This call's RTP stream: random starting points (RFC 3550, section 5.1).
    std::uint32_t ssrc = 0;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
};

TransmitDirection::TransmitDirection(AudioBackend& audio, const Clock& clock, const PeerAddress& peer,
                                     EchoReference& echo, std::function<void()> deviceStopped)
    : m_audio(audio), m_clock(clock), m_peer(peer), m_echo(echo), m_deviceStopped(std::move(deviceStopped)) {}

TransmitDirection::~TransmitDirection() {
    stop();
}

bool TransmitDirection::start(UdpSocket& socket, const VoiceProcessing& processing, AudioProblem& missing) {
    auto call = std::make_unique<Call>();
    call->socket = &socket;
    missing = AudioProblem::None;
    call->device = m_audio.openSource(missing);
    int rateHz = kSampleRateHz;
    if (call->device) {
        rateHz = call->device->sampleRateHz();
        try {
            if (rateHz != kSampleRateHz) {
                call->resampler = std::make_unique<Resampler>(rateHz, kSampleRateHz);
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
    call->standIn = std::make_unique<SilentSource>(m_clock, rateHz);
    call->pipeline = std::make_unique<TransmitPipeline>(processing);
    call->block.resize(frameSamplesAt(rateHz));
    if (call->resampler) {
        call->resampled.resize(call->resampler->maxOutput(call->block.size()));
    }
    std::random_device random;
    call->ssrc = random();
    call->sequence = static_cast<std::uint16_t>(random());
    call->timestamp = random();

    m_call = std::move(call);
    m_running.store(true);
    try {
        m_thread = std::thread([this, c = m_call.get()] { capture(*c); });
    } catch (const std::system_error&) {
        m_running.store(false);
        m_call.reset();
        return false;
    }
    return true;
}

void TransmitDirection::stop() {
    if (!m_running.exchange(false)) {
        return;
    }
    if (m_call->device) {
        m_call->device->interrupt();
    }
    m_call->standIn->interrupt();
    m_thread.join();
    m_call.reset();
}

bool TransmitDirection::takePlayedFrame(Call& c) {
    if (m_echo.size() > kMaxEchoBacklogFrames) {
        while (m_echo.size() > kEchoReserveFrames) {
            m_echo.pop(c.reference);
        }
    }
    if (!c.referencePrimed && m_echo.size() >= kEchoReserveFrames) {
        c.referencePrimed = true;
    }
    const bool havePlayback = c.referencePrimed && m_echo.pop(c.reference);
    if (!havePlayback) {
        c.referencePrimed = false;
    }
    return havePlayback;
}

void TransmitDirection::capture(Call& c) {
    pthread_setname_np(pthread_self(), "voice-capture");
    AudioSource* device = c.device ? c.device.get() : c.standIn.get();
    while (m_echo.pop(c.reference)) {
        // stale playback from before this call
    }
    bool firstPacket = true;
    while (m_running.load(std::memory_order_relaxed)) {
        if (!device->read(c.block)) {
            if (!m_running.load()) {
                break;
            }
            if (device == c.standIn.get()) {
                break; // cannot happen: the stand-in fails only when interrupted
            }
            m_deviceStopped();
            device = c.standIn.get();
            continue;
        }
        if (c.resampler) {
            c.fifo.push(std::span(c.resampled).first(c.resampler->process(c.block, c.resampled)));
        } else {
            c.fifo.push(c.block);
        }
        while (c.fifo.pop(c.frame)) {
            const bool havePlayback = takePlayedFrame(c);
            const std::size_t bytes = c.pipeline->process(
                c.frame,
                havePlayback ? std::span<const std::int16_t>(c.reference) : std::span<const std::int16_t>(),
                m_level.load(std::memory_order_relaxed), c.packet);
            const std::uint32_t peer = m_peer.ipv4.load(std::memory_order_relaxed);
            if (bytes > 0 && peer != 0) {
                RtpHeader header;
                header.marker = firstPacket;
                header.sequence = c.sequence;
                header.timestamp = c.timestamp;
                header.ssrc = c.ssrc;
                const std::size_t size = writeRtpPacket(header, std::span(c.packet).first(bytes), c.datagram);
                if (size > 0 && c.socket->sendTo(std::span(c.datagram).first(size), peer,
                                                 m_peer.port.load(std::memory_order_relaxed))) {
                    m_packetsSent.fetch_add(1, std::memory_order_relaxed);
                }
                firstPacket = false;
            }
            // Time runs on whether or not the packet went out, so the peer sees the gap.
            ++c.sequence;
            c.timestamp += static_cast<std::uint32_t>(kFrameSamples);
        }
    }
}

} // namespace talvora::voice
