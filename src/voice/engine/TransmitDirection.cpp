#include "voice/engine/TransmitDirection.h"

#include "base/Error.h"
#include "voice/engine/DeviceSlot.h"
#include "voice/engine/EchoDelay.h"
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

// The echo canceller needs the speaker's sound in a steady relation to the microphone's: each
// jump in that relation makes it converge anew. The two threads wake at their own moments, so
// the capture side keeps a reserve of played 10 ms blocks (at most kEchoReserveBlocks, more than
// one received frame) and takes a frame's worth per microphone frame, pairing them by count, not
// by time: when the speaker's buffer grows, the playback thread writes ahead and the reserve
// grows with it, so the pairing holds. It only realigns when the reserve runs dry or grows past
// kMaxEchoBacklogBlocks (the two devices' clocks drift apart; room for the speaker buffer's
// growth from 20 to 80 ms besides). What the count cannot see is a gap in what was played: at
// each underflow of the speaker (a stalling machine makes them) the echo jumps by 10-20 ms
// against its reference, and the canceller learns it anew. Only the devices' own timestamps
// would keep the pairing through that.
//
// The reserve must stay shorter than the way round (speaker buffer, the room, microphone
// fragment and frame), or the echo comes before the reference it is paired with and none of it
// is removed. That way is as short as 25 ms through a sound server's monitor or a low-latency
// device, so it is measured (EchoDelayEstimator): where the echo arrives less than kMinEchoLagMs
// behind its reference, the reserve shrinks, and where the echo is far behind it grows back.
constexpr std::size_t kEchoReserveBlocks = 3;
constexpr std::size_t kMaxEchoBacklogBlocks = 16;
constexpr int kMinEchoLagMs = 5;
// The lag aimed at when the reserve changes: room for the threads' jitter either way.
constexpr int kAimedEchoLagMs = 15;
// A shrunken reserve grows back only for an echo this far behind, half the canceller's tail:
// each move costs a second of echo while the canceller learns anew, and a lag that wanders to
// 20-30 ms is cancelled as well as one of 15.
constexpr int kMaxEchoLagMs = kEchoTailMs / 2;
} // namespace

struct TransmitDirection::Call {
    UdpSocket* socket = nullptr;
    DeviceSlot<AudioSource> source;       // the microphone, or a SilentSource while there is none
    bool onStandIn = false;               // `source` holds the stand-in
    std::unique_ptr<Resampler> resampler; // null when the source runs at 48 kHz
    std::int64_t nextRetryMs = 0;         // when to try the microphone again while on the stand-in
    bool stopReported = false;            // deviceStopped was called in this call
    std::unique_ptr<TransmitPipeline> pipeline;
    int frameMs = kFrameDurationMs;
    std::vector<std::int16_t> block; // one frame's read at the source's rate
    std::vector<std::int16_t> resampled;
    SampleFifo fifo{kMaxSentFrameSamples * 4};
    std::vector<std::int16_t> frame;     // frameMs at 48 kHz
    std::vector<std::int16_t> reference; // what the speaker played alongside it
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::array<std::uint8_t, kMaxRtpDatagramBytes> datagram{};
    std::array<std::uint8_t, kMaxRtpDatagramBytes + DatagramGuard::kMaxOverheadBytes> sealed{};
    bool referencePrimed = false;                   // the reserve of played frames is built up
    std::size_t reserveBlocks = kEchoReserveBlocks; // what the reserve is built up to
    EchoDelayEstimator echoDelay;
    // This call's RTP stream: random starting points (RFC 3550, section 5.1).
    std::uint32_t ssrc = 0;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
};

TransmitDirection::TransmitDirection(AudioBackend& audio, const Clock& clock, const PeerAddress& peer,
                                     EchoReference& echo, ThreadPriority& priority,
                                     std::function<void()> deviceStopped)
    : m_audio(audio), m_clock(clock), m_peer(peer), m_echo(echo), m_priority(priority),
      m_deviceStopped(std::move(deviceStopped)) {}

TransmitDirection::~TransmitDirection() {
    stop();
}

bool TransmitDirection::start(UdpSocket& socket, const VoiceProcessing& processing, int frameMs,
                              AudioProblem& missing) {
    auto call = std::make_unique<Call>();
    call->socket = &socket;
    call->frameMs = frameMs;
    call->frame.resize(samplesFor(frameMs));
    call->reference.resize(samplesFor(frameMs));
    missing = AudioProblem::None;
    if (!useDevice(*call, m_audio.openSource(missing))) {
        if (missing == AudioProblem::None) {
            missing = AudioProblem::NoDevice;
        }
        useStandIn(*call);
    }
    call->pipeline = std::make_unique<TransmitPipeline>(processing, frameMs);
    std::random_device random;
    call->ssrc = random();
    call->sequence = static_cast<std::uint16_t>(random());
    call->timestamp = random();

    m_call = std::move(call);
    m_echoLagMs.store(kNoEchoLag);
    m_echoReserveChanges.store(0);
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
    m_call->source.interrupt();
    m_thread.join();
    m_call.reset();
}

bool TransmitDirection::takePlayedFrame(Call& c) {
    if (m_echo.size() > kMaxEchoBacklogBlocks) {
        while (m_echo.size() > c.reserveBlocks) {
            m_echo.pop(std::span(c.reference).first(kBlockSamples));
        }
        c.echoDelay.reset();
    }
    if (!c.referencePrimed && m_echo.size() >= c.reserveBlocks) {
        c.referencePrimed = true;
    }
    const std::size_t blocks = c.reference.size() / kBlockSamples;
    if (!c.referencePrimed || m_echo.size() < blocks) {
        if (c.referencePrimed) {
            c.echoDelay.reset(); // the reserve ran dry: it is built up anew, the lag with it
        }
        c.referencePrimed = false;
        return false;
    }
    for (std::size_t b = 0; b < blocks; ++b) {
        m_echo.pop(std::span(c.reference).subspan(b * kBlockSamples, kBlockSamples));
    }
    return true;
}

void TransmitDirection::followEchoDelay(Call& c, int lagMs) {
    // One block more in the reserve pairs the microphone with sound played 10 ms earlier, which
    // shortens the lag by 10 ms.
    const std::size_t fewest = c.reference.size() / kBlockSamples;
    std::size_t wanted = c.reserveBlocks;
    if (lagMs < kMinEchoLagMs) {
        const auto less = static_cast<std::size_t>((kAimedEchoLagMs - lagMs + kBlockMs - 1) / kBlockMs);
        wanted = c.reserveBlocks > fewest + less ? c.reserveBlocks - less : fewest;
    } else if (lagMs >= kMaxEchoLagMs && c.reserveBlocks < kEchoReserveBlocks) {
        const auto more = static_cast<std::size_t>((lagMs - kAimedEchoLagMs) / kBlockMs);
        wanted = std::min(kEchoReserveBlocks, c.reserveBlocks + more);
    }
    if (wanted == c.reserveBlocks) {
        return;
    }
    if (wanted < c.reserveBlocks) {
        // Played blocks skipped are never cancelled against: the echo's reference moves later.
        for (std::size_t skip = c.reserveBlocks - wanted; skip > 0 && m_echo.size() > fewest; --skip) {
            m_echo.pop(std::span(c.reference).first(kBlockSamples));
        }
    } else {
        c.referencePrimed = false; // built up again to the larger reserve
    }
    c.reserveBlocks = wanted;
    c.echoDelay.reset();
    c.pipeline->restartEchoCanceller();
    m_echoReserveChanges.fetch_add(1, std::memory_order_relaxed);
}

bool TransmitDirection::useDevice(Call& c, std::unique_ptr<AudioSource> device) {
    if (!device) {
        return false;
    }
    const int rateHz = device->sampleRateHz();
    std::unique_ptr<Resampler> resampler;
    if (rateHz != kSampleRateHz) {
        try {
            resampler = std::make_unique<Resampler>(rateHz, kSampleRateHz);
        } catch (const Error&) {
            return false;
        }
    }
    c.block.resize(samplesAt(rateHz, c.frameMs));
    if (resampler && c.resampled.size() < resampler->maxOutput(c.block.size())) {
        c.resampled.resize(resampler->maxOutput(c.block.size()));
    }
    device = c.source.replace(std::move(device));
    c.resampler = std::move(resampler);
    c.onStandIn = false;
    return true;
}

void TransmitDirection::useStandIn(Call& c) {
    // A fresh stand-in each time: its pace starts now, not where a former one left off.
    c.source.replace(std::make_unique<SilentSource>(m_clock, kSampleRateHz));
    c.resampler.reset();
    c.block.resize(samplesFor(c.frameMs));
    c.onStandIn = true;
    c.nextRetryMs = m_clock.nowMs() + kDeviceRetryMs;
}

void TransmitDirection::capture(Call& c) {
    pthread_setname_np(pthread_self(), "voice-capture");
    m_priority.raiseAudioThread();
    while (m_echo.pop(std::span(c.reference).first(kBlockSamples))) {
        // stale playback from before this call
    }
    bool firstPacket = true;
    while (m_running.load(std::memory_order_relaxed)) {
        if (c.onStandIn && m_clock.nowMs() >= c.nextRetryMs) {
            // The microphone (or the server's default one) may be back. Opening allocates and
            // asks the sound server, which this thread otherwise never does; it happens only
            // while there is no microphone to record.
            AudioProblem problem = AudioProblem::None;
            if (!useDevice(c, m_audio.openSource(problem))) {
                c.nextRetryMs = m_clock.nowMs() + kDeviceRetryMs;
            }
        }
        if (!c.source.get()->read(c.block)) {
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
        if (c.resampler) {
            c.fifo.push(std::span(c.resampled).first(c.resampler->process(c.block, c.resampled)));
        } else {
            c.fifo.push(c.block);
        }
        while (c.fifo.pop(c.frame)) {
            const auto reference = takePlayedFrame(c) ? std::span<const std::int16_t>(c.reference)
                                                      : std::span<const std::int16_t>();
            // Only a canceller needs its echo placed, from what the microphone heard unprocessed.
            const auto lag =
                c.pipeline->options().echoCancellation ? c.echoDelay.add(c.frame, reference) : std::nullopt;
            const std::size_t bytes =
                c.pipeline->process(c.frame, reference, m_level.load(std::memory_order_relaxed), c.packet);
            if (lag) {
                // After this frame, whose reference the move would overwrite.
                m_echoLagMs.store(*lag, std::memory_order_relaxed);
                followEchoDelay(c, *lag);
            }
            const std::uint32_t peer = m_peer.ipv4.load(std::memory_order_relaxed);
            if (bytes > 0 && peer != 0) {
                RtpHeader header;
                header.marker = firstPacket;
                header.sequence = c.sequence;
                header.timestamp = c.timestamp;
                header.ssrc = c.ssrc;
                const std::size_t size = writeRtpPacket(header, std::span(c.packet).first(bytes), c.datagram);
                std::optional<std::span<const std::uint8_t>> wire;
                if (size > 0) {
                    wire = std::span<const std::uint8_t>(c.datagram).first(size);
                    // In a private call nothing leaves unsealed; while its keys are being agreed
                    // nothing leaves at all.
                    if (DatagramGuard* guard = m_peer.guard.load(std::memory_order_acquire)) {
                        wire = guard->seal(*wire, c.sealed);
                    }
                }
                if (wire && c.socket->sendTo(*wire, peer, m_peer.port.load(std::memory_order_relaxed),
                                             m_peer.source.load(std::memory_order_relaxed))) {
                    m_packetsSent.fetch_add(1, std::memory_order_relaxed);
                }
                firstPacket = false;
            }
            // Time runs on whether or not the packet went out, so the peer sees the gap.
            ++c.sequence;
            c.timestamp += static_cast<std::uint32_t>(c.frame.size());
        }
    }
}

} // namespace talvora::voice
