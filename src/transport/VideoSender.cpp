#include "transport/VideoSender.h"

#include "convert/PictureScale.h"
#include "transport/JpegCodec.h"
#include "transport/PeerPicture.h"

#include <algorithm>

namespace talvora {

namespace {

// The camera's rate is the frames of the last second: a burst after a stall (a late wake-up, a
// driver that hands over queued buffers at once) does not make it look faster than it is.
constexpr qint64 kRateWindowMs = 1000;

} // namespace

VideoSender::VideoSender(VideoSendState& state, DatagramSink& sink, Notice notice, const voice::Clock* clock,
                         quint16 port)
    : m_state(state), m_sink(sink), m_notice(std::move(notice)),
      m_ownClock(clock ? nullptr : std::make_unique<voice::SteadyClock>()),
      m_clock(clock ? *clock : *m_ownClock), m_port(port), m_sendBuffer(std::size_t(kSendBufferBytes)) {}

VideoSender::~VideoSender() = default;

VideoSendOutcome VideoSender::sendFrame(const QImage& frame) {
    if (!m_state.isSendingVideo()) {
        m_inCall = false;
        return VideoSendOutcome::NotSending;
    }
    if (frame.isNull()) {
        return VideoSendOutcome::NotSending;
    }
    const qint64 nowMs = m_clock.nowMs();
    if (!m_inCall) {
        startCall(nowMs);
    }
    noteFrame(nowMs);

    // The address was looked up once, when the call connected; a call without one sends nothing,
    // and that says nothing about the picture's size, so the quality stays.
    const QHostAddress to = m_state.videoDestination();
    if (to.isNull()) {
        m_lastError = QStringLiteral("no address for the peer's pictures");
        return VideoSendOutcome::Failed;
    }

    std::optional<PeerHold> hold;
    {
        const std::lock_guard lock(m_guardLock);
        m_frameGuard = m_guard;
        hold = m_peerHold;
    }
    if (hold) {
        // The budget counts its pictures from this call's first.
        hold->picturesCovered -= std::min(hold->picturesCovered, m_picturesAtCallStart);
    }
    m_budget.setPeerHold(hold);
    // A sealed picture carries the seal's overhead within the same datagram.
    m_datagramLimit = m_frameGuard ? std::min(kMaxDatagramBytes, qsizetype(m_frameGuard->maxPlainBytes()))
                                   : kMaxDatagramBytes;

    const double loss = m_pathLoss.load(std::memory_order_relaxed);
    m_budget.setLoss(nowMs, loss);
    m_lastPlan = m_budget.plan(nowMs, cameraRate(nowMs), m_sizes);
    if (!m_lastPlan.onePacket()) {
        m_onePacketHalvings = 0; // the next time the peer's memory is full, start from half size
    }
    if (!m_lastPlan.limited()) {
        m_credit = 1;
        return sendAsToday(pictureForPeer(frame), to);
    }
    if (!takeTurn(nowMs)) {
        return VideoSendOutcome::Held;
    }
    return sendWithinBudget(pictureForPeer(frame), to);
}

void VideoSender::startCall(qint64 nowMs) {
    // A new call may go elsewhere: what the last one's pictures hold at their peer, and the pace
    // of its frames, say nothing of this one.
    m_inCall = true;
    m_budget = PictureBudget(m_budget.limits());
    m_picturesAtCallStart = m_picturesSent.load(std::memory_order_relaxed);
    m_frameTimes.clear();
    m_callStartMs = nowMs;
    m_lastTurnMs = -1;
    m_credit = 1;
}

void VideoSender::noteFrame(qint64 nowMs) {
    m_lastFrameMs = nowMs;
    m_frameTimes.push_back(nowMs);
    while (m_frameTimes.front() <= nowMs - kRateWindowMs) {
        m_frameTimes.pop_front();
    }
}

double VideoSender::cameraRate(qint64 nowMs) const {
    // Until the call has run a second, the frames counted are not yet a second's.
    if (nowMs - m_callStartMs < kRateWindowMs) {
        return kAssumedCameraRate;
    }
    return double(m_frameTimes.size()) * 1000.0 / double(kRateWindowMs);
}

bool VideoSender::takeTurn(qint64 nowMs) {
    if (m_lastPlan.picturesPerSecond <= 0) {
        m_credit = 1;
        m_lastTurnMs = nowMs;
        return true;
    }
    // A bucket that fills at the allowed rate and holds one picture: frames come at the camera's
    // rate, and every frame that finds a whole picture's credit goes out, so 20 of 30 frames a
    // second leave at 20 a second, evenly, and never in a burst.
    if (m_lastTurnMs >= 0 && nowMs > m_lastTurnMs) {
        m_credit += double(nowMs - m_lastTurnMs) * m_lastPlan.picturesPerSecond / 1000;
    }
    m_lastTurnMs = nowMs;
    const bool go = m_credit >= 1;
    if (go) {
        m_credit -= 1;
    }
    m_credit = std::min(m_credit, 1.0);
    return go;
}

VideoSendOutcome VideoSender::sendAsToday(const QImage& picture, const QHostAddress& to) {
    // Compression stops as soon as the picture outgrows one datagram; the send buffer is larger,
    // so a datagram's limit is the one that counts.
    const int quality = m_state.jpegQuality();
    const JpegEncodeResult encoded = encodeJpeg(picture, quality, m_sendBuffer.data(), m_datagramLimit);
    if (encoded.status == JpegEncodeStatus::TooLarge) {
        m_sizes.observeAbove(quality, m_datagramLimit);
        m_lastError = QStringLiteral("picture larger than one datagram");
        return stepDown();
    }
    if (encoded.status != JpegEncodeStatus::Ok) {
        m_lastError = encoded.error;
        return VideoSendOutcome::Failed;
    }
    m_sizes.observe(quality, encoded.size);
    return transmit(encoded.size, quality, 1, to);
}

VideoSendOutcome VideoSender::sendWithinBudget(const QImage& picture, const QHostAddress& to) {
    if (m_lastPlan.onePacket()) {
        return sendOnePacket(picture, to);
    }
    // Each try learns the picture's real size (up to one datagram), so that a second try, if
    // any, lands close below the ceiling.
    const qsizetype ceiling = std::min(m_lastPlan.ceilingBytes, m_datagramLimit);
    const int highest = m_state.jpegQuality();
    int quality = PictureBudget::qualityFor(m_lastPlan, m_sizes, highest);
    for (int encodes = 1; encodes <= kMaxEncodes; ++encodes) {
        const JpegEncodeResult encoded = encodeJpeg(picture, quality, m_sendBuffer.data(), m_datagramLimit);
        if (encoded.status == JpegEncodeStatus::Ok) {
            m_sizes.observe(quality, encoded.size);
            if (encoded.size <= ceiling) {
                return transmit(encoded.size, quality, encodes, to);
            }
        } else if (encoded.status == JpegEncodeStatus::TooLarge) {
            m_sizes.observeAbove(quality, m_datagramLimit);
        } else {
            m_lastError = encoded.error;
            return VideoSendOutcome::Failed;
        }
        if (quality <= kMinJpegQuality) {
            break;
        }
        // Lower in any case, even where the prediction would try the same quality again.
        quality = std::min(quality - 1, PictureBudget::qualityFor(m_lastPlan, m_sizes, highest));
    }
    m_lastError = QStringLiteral("picture larger than the budget allows");
    return VideoSendOutcome::OverBudget;
}

VideoSendOutcome VideoSender::sendOnePacket(const QImage& picture, const QHostAddress& to) {
    // The peer's kernel refuses fragments while its reassembly memory is full, but a picture of
    // one packet needs none: a smaller picture that arrives beats a full one that cannot, and
    // the peer shows any size. Halved until it fits, from the size that fitted last, at most
    // the floor's quality; a seal's overhead rides in the same packet.
    const qsizetype limit = payloadOf(1) - (kMaxDatagramBytes - m_datagramLimit);
    const int highest = std::min(m_state.jpegQuality(), PictureBudget::kQualityFloor);
    int encodes = 0;
    for (int halvings = std::max(m_onePacketHalvings, 1); halvings <= kMaxOnePacketHalvings; ++halvings) {
        const QImage smaller = scalePicture(picture, QSize(std::max(1, picture.width() >> halvings),
                                                           std::max(1, picture.height() >> halvings)));
        for (const int quality : {highest, std::min(highest, kOnePacketLowQuality)}) {
            const JpegEncodeResult encoded = encodeJpeg(smaller, quality, m_sendBuffer.data(), limit);
            ++encodes;
            if (encoded.status == JpegEncodeStatus::Ok) {
                m_onePacketHalvings = halvings;
                return transmit(encoded.size, quality, encodes, to);
            }
            if (encoded.status != JpegEncodeStatus::TooLarge) {
                m_lastError = encoded.error;
                return VideoSendOutcome::Failed;
            }
        }
    }
    m_lastError = QStringLiteral("picture larger than one packet even at its smallest");
    return VideoSendOutcome::OverBudget;
}

VideoSendOutcome VideoSender::transmit(qsizetype bytes, int quality, int encodes, const QHostAddress& to) {
    const uchar* wire = m_sendBuffer.data();
    qsizetype wireBytes = bytes;
    if (m_frameGuard) {
        // In a private call nothing leaves unsealed; while its keys are being agreed nothing
        // leaves at all.
        if (m_sealBuffer.empty()) {
            m_sealBuffer.resize(std::size_t(kMaxDatagramBytes) + DatagramGuard::kMaxOverheadBytes);
        }
        const auto sealed = m_frameGuard->seal(
            std::span<const std::uint8_t>(m_sendBuffer.data(), std::size_t(bytes)), m_sealBuffer);
        if (!sealed) {
            m_lastError = QStringLiteral("held: the call's keys are not agreed");
            return VideoSendOutcome::Held;
        }
        wire = sealed->data();
        wireBytes = qsizetype(sealed->size());
    }
    const DatagramSendResult sent = m_sink.send(wire, wireBytes, to, m_port);
    switch (sent.status) {
    case DatagramSendStatus::Sent:
        m_lastPictureBytes = bytes;
        m_lastQuality = quality;
        m_lastEncodes = encodes;
        m_lastError.clear();
        m_budget.noteSent(m_lastFrameMs, bytes);
        m_picturesSent.fetch_add(1, std::memory_order_relaxed);
        m_packetsSent.fetch_add(quint64(fragmentsOf(wireBytes, m_budget.limits())),
                                std::memory_order_relaxed);
        return VideoSendOutcome::Sent;
    case DatagramSendStatus::TooLarge:
        m_lastError = sent.error;
        return stepDown();
    case DatagramSendStatus::Failed:
        break;
    }
    m_lastError = sent.error;
    return VideoSendOutcome::Failed;
}

VideoSendOutcome VideoSender::stepDown() {
    // Only the step that lands on exactly 0 tells, so the notice comes once.
    const int lowered = m_state.jpegQuality() - kQualityStep;
    m_state.setJpegQuality(lowered);
    if (lowered == 0 && m_notice) {
        m_notice(kVideoFrameTooLargeText);
    }
    return VideoSendOutcome::TooLarge;
}

} // namespace talvora
