#include "voice/engine/MediaTerminal.h"

#include "base/HostResolver.h"
#include "base/Error.h"
#include "voice/engine/FakeAudio.h"
#include "voice/engine/FrameRing.h"
#include "voice/engine/JitterBuffer.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/Resampler.h"
#include "voice/engine/Rtp.h"
#include "voice/engine/SampleFifo.h"
#include "voice/engine/UdpSocket.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <random>
#include <system_error>
#include <vector>

namespace talvora::voice {

namespace {

// How long the network thread waits for a datagram before it looks at its stop flag.
constexpr int kReceivePollMs = 50;
// The echo canceller needs the speaker's frames in a steady relation to the microphone's: each
// jump in that relation makes it converge anew. The two threads wake at their own moments, so
// the capture side keeps a reserve of played frames (kEchoReserveFrames) and takes one per
// microphone frame; it only realigns when the reserve runs dry or grows past
// kMaxEchoBacklogFrames (the two devices' clocks drift apart). The reserve delays the
// reference by 40 ms, well inside the canceller's tail.
constexpr std::size_t kEchoReserveFrames = 2;
constexpr std::size_t kMaxEchoBacklogFrames = 6;

// What a device at `rateHz` needs to meet the engine's 48 kHz: null when nothing.
std::unique_ptr<Resampler> resamplerFor(int fromHz, int toHz) {
    return fromHz == toHz ? nullptr : std::make_unique<Resampler>(fromHz, toHz);
}

} // namespace

struct MediaTerminal::TransmitDirection {
    std::unique_ptr<AudioSource> device;  // null when there is no microphone
    std::unique_ptr<AudioSource> standIn; // silence at the same pace, used when `device` fails
    std::unique_ptr<Resampler> resampler;
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

struct MediaTerminal::ReceiveDirection {
    std::unique_ptr<AudioSink> device;
    std::unique_ptr<AudioSink> standIn;
    std::unique_ptr<Resampler> resampler;
    ReceivePipeline pipeline;
    std::vector<std::int16_t> resampled;
    std::array<std::int16_t, kFrameSamples> frame{};
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::array<std::uint8_t, kMaxRtpDatagramBytes> datagram{};
};

MediaTerminal::MediaTerminal(NetworkConfig network, std::unique_ptr<AudioBackend> audio, const Clock& clock,
                             QObject* parent)
    : QObject(parent), m_network(std::move(network)), m_audio(std::move(audio)), m_clock(clock),
      m_jitter(std::make_unique<JitterBuffer>()),
      m_echoReference(std::make_unique<FrameRing<kFrameSamples, 8>>()) {}

MediaTerminal::~MediaTerminal() {
    Uninitialize();
}

bool MediaTerminal::Initialize() {
    if (m_initialized) {
        return true;
    }
    m_initialized = true;
    m_receiveOpen = false;
    m_transmitOpen = false;
    m_transmitLevel.store(kUnityLevel);
    m_receiveLevel.store(kUnityLevel);
    m_pendingNotices = 0;
    m_shownNotices = 0;
    return true;
}

bool MediaTerminal::Uninitialize() {
    StopReceive();
    StopTransmit();
    if (!m_initialized) {
        return true;
    }
    m_initialized = false;
    m_receiveOpen = false;
    m_transmitOpen = false;
    m_socket.reset();
    m_peerAddress.store(0);
    m_peerPort.store(0);
    return true;
}

bool MediaTerminal::OpenReceive(int codec, int frameMs, int device, int options) {
    if (!m_initialized || codec != kCodecOpus || frameMs != kFrameMs20 || device != kDefaultDevice ||
        options != 0) {
        return false;
    }
    m_receiveOpen = true;
    return true;
}

bool MediaTerminal::OpenTransmit(int codec, int frameMs, int device, int echoCancellation,
                                 int noiseSuppression, int options) {
    if (!m_initialized || codec != kCodecOpus || frameMs != kFrameMs20 || device != kDefaultDevice ||
        options != 0) {
        return false;
    }
    m_transmitOptions.echoCancellation = echoCancellation != 0;
    m_transmitOptions.noiseSuppression = noiseSuppression != 0;
    m_transmitOpen = true;
    return true;
}

bool MediaTerminal::SetTransmitDestination(const QString& address, int port) {
    if (!m_initialized || port <= 0 || port > 65535) {
        return false;
    }
    // Resolved once per call: the peer's address is also the only one voice is accepted from.
    try {
        const QHostAddress resolved = resolveIPv4(address);
        bool ok = false;
        const quint32 ipv4 = resolved.toIPv4Address(&ok);
        if (!ok || ipv4 == 0) {
            throw Error(QStringLiteral("%1 is not an IPv4 address.").arg(address));
        }
        m_peerAddress.store(ipv4);
        m_peerPort.store(static_cast<std::uint16_t>(port));
        return true;
    } catch (const Error& e) {
        m_peerAddress.store(0);
        m_peerPort.store(0);
        postNotice(tr("Voice cannot reach %1: %2").arg(address, e.text()));
        return false;
    }
}

bool MediaTerminal::ensureSocket(std::uint16_t port, int* error) {
    if (m_socket && (port == 0 || m_socket->localPort() == port)) {
        return true;
    }
    if (m_transmitRunning.load() || m_receiveRunning.load()) {
        if (error) {
            *error = EBUSY;
        }
        return false; // the threads use the socket
    }
    m_socket.reset();
    m_socket = UdpSocket::bind(m_network.bindAddress.toIPv4Address(), port, error);
    return m_socket != nullptr;
}

bool MediaTerminal::BindReceivePort(int port) {
    if (!m_initialized || port <= 0 || port > 65535) {
        return false;
    }
    int error = 0;
    if (!ensureSocket(static_cast<std::uint16_t>(port), &error)) {
        if (error == EADDRINUSE) {
            postNotice(tr("The voice port %1 is in use: you cannot hear the other side.").arg(port));
        } else {
            postNotice(tr("The voice port %1 cannot be opened (%2): you cannot hear the other side.")
                           .arg(port)
                           .arg(QString::fromLocal8Bit(std::strerror(error))));
        }
        return false;
    }
    return true;
}

void MediaTerminal::noteMissing(AudioProblem problem, bool microphone) {
    if (problem == AudioProblem::NoServer) {
        m_pendingNotices |= microphone ? kNoServerForMic : kNoServerForSpeaker;
    } else {
        m_pendingNotices |= microphone ? kNoMicrophone : kNoSpeaker;
    }
    // Both directions start in one go; the notice waits for the event loop so that it can speak
    // of both at once.
    QTimer::singleShot(0, this, &MediaTerminal::flushNotices);
}

void MediaTerminal::flushNotices() {
    const unsigned fresh = m_pendingNotices & ~m_shownNotices;
    m_pendingNotices = 0;
    if (fresh == 0) {
        return;
    }
    QString text;
    if (fresh & (kNoServerForMic | kNoServerForSpeaker)) {
        text = tr("No sound server is running: this call has no sound.");
        m_shownNotices |= kNoServerForMic | kNoServerForSpeaker | kNoMicrophone | kNoSpeaker;
    } else if ((fresh & kNoMicrophone) && (fresh & kNoSpeaker)) {
        text = tr("No microphone and no speaker were found: this call has no sound.");
    } else if (fresh & kNoMicrophone) {
        text = tr("No microphone was found: the other side cannot hear you.");
    } else {
        text = tr("No speaker was found: you cannot hear the other side.");
    }
    m_shownNotices |= fresh;
    emit notice(text);
}

void MediaTerminal::postNotice(const QString& text) {
    // From any thread; delivered by the event loop of the terminal's thread (the main thread).
    QMetaObject::invokeMethod(
        this, [this, text] { emit notice(text); }, Qt::QueuedConnection);
}

bool MediaTerminal::StartTransmit(int source) {
    if (!m_initialized || !m_transmitOpen || source != kLiveDevice) {
        return false;
    }
    if (m_transmitRunning.load()) {
        return true;
    }
    if (!ensureSocket(0)) {
        return false;
    }
    auto direction = std::make_unique<TransmitDirection>();
    AudioProblem problem = AudioProblem::None;
    direction->device = m_audio->openSource(problem);
    int rateHz = kSampleRateHz;
    if (direction->device) {
        rateHz = direction->device->sampleRateHz();
        try {
            direction->resampler = resamplerFor(rateHz, kSampleRateHz);
        } catch (const Error&) {
            direction->device.reset();
            problem = AudioProblem::NoDevice;
            rateHz = kSampleRateHz;
        }
    }
    if (!direction->device) {
        noteMissing(problem, true);
    }
    direction->standIn = std::make_unique<FakeSource>(m_clock, rateHz, nullptr);
    direction->pipeline = std::make_unique<TransmitPipeline>(m_transmitOptions);
    direction->block.resize(frameSamplesAt(rateHz));
    if (direction->resampler) {
        direction->resampled.resize(direction->resampler->maxOutput(direction->block.size()));
    }

    std::random_device random;
    direction->ssrc = random();
    direction->sequence = static_cast<std::uint16_t>(random());
    direction->timestamp = random();

    m_transmit = std::move(direction);
    m_transmitRunning.store(true);
    try {
        m_captureThread = std::thread([this, d = m_transmit.get()] { captureLoop(*d); });
    } catch (const std::system_error&) {
        m_transmitRunning.store(false);
        m_transmit.reset();
        return false;
    }
    return true;
}

bool MediaTerminal::StopTransmit() {
    if (!m_transmitRunning.exchange(false)) {
        return true;
    }
    if (m_transmit->device) {
        m_transmit->device->interrupt();
    }
    m_transmit->standIn->interrupt();
    m_captureThread.join();
    m_transmit.reset();
    return true;
}

void MediaTerminal::captureLoop(TransmitDirection& d) {
    pthread_setname_np(pthread_self(), "voice-capture");
    AudioSource* device = d.device ? d.device.get() : d.standIn.get();
    std::int16_t* const reference = d.reference.data();
    while (m_echoReference->pop(d.reference)) {
        // stale playback from before this call
    }
    bool firstPacket = true;
    while (m_transmitRunning.load(std::memory_order_relaxed)) {
        if (!device->read(d.block)) {
            if (!m_transmitRunning.load()) {
                break;
            }
            if (device == d.standIn.get()) {
                break; // cannot happen: the stand-in fails only when interrupted
            }
            postNotice(tr("The microphone stopped working: the other side cannot hear you."));
            device = d.standIn.get();
            continue;
        }
        if (d.resampler) {
            d.fifo.push(std::span(d.resampled).first(d.resampler->process(d.block, d.resampled)));
        } else {
            d.fifo.push(d.block);
        }
        while (d.fifo.pop(d.frame)) {
            if (m_echoReference->size() > kMaxEchoBacklogFrames) {
                while (m_echoReference->size() > kEchoReserveFrames) {
                    m_echoReference->pop(d.reference);
                }
            }
            if (!d.referencePrimed && m_echoReference->size() >= kEchoReserveFrames) {
                d.referencePrimed = true;
            }
            const bool havePlayback = d.referencePrimed && m_echoReference->pop(d.reference);
            if (!havePlayback) {
                d.referencePrimed = false;
            }
            const std::size_t bytes =
                d.pipeline->process(d.frame,
                                    havePlayback ? std::span<const std::int16_t>(reference, kFrameSamples)
                                                 : std::span<const std::int16_t>(),
                                    m_transmitLevel.load(std::memory_order_relaxed), d.packet);
            const std::uint32_t peer = m_peerAddress.load(std::memory_order_relaxed);
            if (bytes > 0 && peer != 0) {
                RtpHeader header;
                header.marker = firstPacket;
                header.sequence = d.sequence;
                header.timestamp = d.timestamp;
                header.ssrc = d.ssrc;
                const std::size_t size = writeRtpPacket(header, std::span(d.packet).first(bytes), d.datagram);
                if (size > 0 &&
                    m_socket->sendTo(std::span(d.datagram).first(size), peer, m_peerPort.load())) {
                    m_packetsSent.fetch_add(1, std::memory_order_relaxed);
                }
                firstPacket = false;
            }
            // Time runs on whether or not the packet went out, so the peer sees the gap.
            ++d.sequence;
            d.timestamp += static_cast<std::uint32_t>(kFrameSamples);
        }
    }
}

void MediaTerminal::resetPeerFilter() {
    m_havePeerSsrc = false;
    m_peerSsrc = 0;
    m_lastPeerPacketMs = 0;
}

bool MediaTerminal::StartReceive(int sink) {
    if (!m_initialized || !m_receiveOpen || sink != kLiveDevice || !m_socket) {
        return false;
    }
    if (m_receiveRunning.load()) {
        return true;
    }
    auto direction = std::make_unique<ReceiveDirection>();
    AudioProblem problem = AudioProblem::None;
    direction->device = m_audio->openSink(problem);
    int rateHz = kSampleRateHz;
    if (direction->device) {
        rateHz = direction->device->sampleRateHz();
        try {
            direction->resampler = resamplerFor(kSampleRateHz, rateHz);
        } catch (const Error&) {
            direction->device.reset();
            problem = AudioProblem::NoDevice;
            rateHz = kSampleRateHz;
        }
    }
    if (!direction->device) {
        noteMissing(problem, false);
    }
    direction->standIn = std::make_unique<FakeSink>(m_clock, rateHz);
    if (direction->resampler) {
        direction->resampled.resize(direction->resampler->maxOutput(kFrameSamples));
    }
    {
        std::lock_guard lock(m_jitterMutex);
        m_jitter->reset();
    }
    resetPeerFilter();

    m_receive = std::move(direction);
    m_receiveRunning.store(true);
    try {
        m_networkThread = std::thread([this] { networkLoop(); });
        m_playbackThread = std::thread([this, d = m_receive.get()] { playbackLoop(*d); });
    } catch (const std::system_error&) {
        m_receiveRunning.store(false);
        if (m_networkThread.joinable()) {
            m_networkThread.join();
        }
        m_receive.reset();
        return false;
    }
    return true;
}

bool MediaTerminal::StopReceive() {
    if (!m_receiveRunning.exchange(false)) {
        return true;
    }
    if (m_receive->device) {
        m_receive->device->interrupt();
    }
    m_receive->standIn->interrupt();
    m_networkThread.join();
    m_playbackThread.join();
    m_receive.reset();
    return true;
}

void MediaTerminal::networkLoop() {
    pthread_setname_np(pthread_self(), "voice-network");
    std::array<std::uint8_t, kMaxRtpDatagramBytes> buffer{};
    while (m_receiveRunning.load(std::memory_order_relaxed)) {
        const UdpSocket::Received received = m_socket->receive(buffer, kReceivePollMs);
        if (!received.arrived) {
            if (received.error) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kReceivePollMs));
            }
            continue;
        }
        // Only the peer of this call may speak into it.
        const std::uint32_t peer = m_peerAddress.load(std::memory_order_relaxed);
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
        if (!m_havePeerSsrc ||
            (packet->header.ssrc != m_peerSsrc && nowMs - m_lastPeerPacketMs >= kSsrcTakeoverMs)) {
            const bool takeover = m_havePeerSsrc;
            m_havePeerSsrc = true;
            m_peerSsrc = packet->header.ssrc;
            if (takeover) {
                std::lock_guard lock(m_jitterMutex);
                m_jitter->reset();
            }
        } else if (packet->header.ssrc != m_peerSsrc) {
            m_refusedSsrc.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        m_lastPeerPacketMs = nowMs;
        {
            std::lock_guard lock(m_jitterMutex);
            m_jitter->put(packet->header.sequence, packet->payload, nowMs);
        }
        m_packetsAccepted.fetch_add(1, std::memory_order_relaxed);
    }
}

void MediaTerminal::playbackLoop(ReceiveDirection& d) {
    pthread_setname_np(pthread_self(), "voice-playback");
    AudioSink* device = d.device ? d.device.get() : d.standIn.get();
    while (m_receiveRunning.load(std::memory_order_relaxed)) {
        JitterBuffer::Frame frame;
        {
            std::lock_guard lock(m_jitterMutex);
            frame = m_jitter->get(m_clock.nowMs(), d.packet);
        }
        d.pipeline.produce(frame, d.packet, m_receiveLevel.load(std::memory_order_relaxed), d.frame);
        m_echoReference->push(d.frame);
        std::span<const std::int16_t> out(d.frame);
        if (d.resampler) {
            out =
                std::span<const std::int16_t>(d.resampled).first(d.resampler->process(d.frame, d.resampled));
        }
        if (!device->write(out)) {
            if (!m_receiveRunning.load() || device == d.standIn.get()) {
                break;
            }
            postNotice(tr("The speaker stopped working: you cannot hear the other side."));
            device = d.standIn.get();
            continue;
        }
        m_framesPlayed.fetch_add(1, std::memory_order_relaxed);
    }
}

bool MediaTerminal::SetReceiveLevel(int channel, int level) {
    if (!m_initialized || channel != kMonoChannel) {
        return false;
    }
    m_receiveLevel.store(std::clamp(level, 0, kMaxLevel));
    return true;
}

bool MediaTerminal::SetTransmitLevel(int channel, int level) {
    if (!m_initialized || channel != kMonoChannel) {
        return false;
    }
    m_transmitLevel.store(std::clamp(level, 0, kMaxLevel));
    return true;
}

MediaTerminalStats MediaTerminal::stats() const {
    MediaTerminalStats s;
    s.packetsSent = m_packetsSent.load();
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
