#include "transport/VideoSender.h"

#include "base/HostResolver.h"
#include "transport/JpegCodec.h"

#include <algorithm>

namespace talvora {

VideoSender::VideoSender(VideoSendState& state, DatagramSink& sink, MessageService& messages,
                         std::function<void()> letPendingEventsRun, quint16 port)
    : m_state(state), m_sink(sink), m_messages(messages),
      m_letPendingEventsRun(std::move(letPendingEventsRun)), m_port(port),
      m_sendBuffer(std::size_t(kSendBufferBytes)) {}

VideoSendOutcome VideoSender::sendFrame(const QImage& picture) {
    if (!m_state.isSendingVideo() || picture.isNull()) {
        return VideoSendOutcome::NotSending;
    }

    // The host is resolved for every picture, so a changed name or address takes effect at once.
    // A name that does not resolve drops this picture only: it says nothing about the picture's
    // size, so the quality stays.
    QHostAddress to;
    try {
        to = resolveIPv4(m_state.videoHost());
    } catch (const Error& e) {
        m_lastError = e.text();
        return VideoSendOutcome::Failed;
    }

    // Compression stops as soon as the picture outgrows one datagram; the send buffer is larger,
    // so a datagram's limit is the one that counts.
    const qsizetype capacity = std::min(kMaxDatagramBytes, kSendBufferBytes);
    const JpegEncodeResult encoded =
        encodeJpeg(picture, m_state.jpegQuality(), m_sendBuffer.data(), capacity);
    if (encoded.status == JpegEncodeStatus::TooLarge) {
        m_lastError = QStringLiteral("picture larger than one datagram");
        return stepDown();
    }
    if (encoded.status != JpegEncodeStatus::Ok) {
        m_lastError = encoded.error;
        return VideoSendOutcome::Failed;
    }

    const DatagramSendResult sent = m_sink.send(m_sendBuffer.data(), encoded.size, to, m_port);
    switch (sent.status) {
    case DatagramSendStatus::Sent:
        m_lastPictureBytes = encoded.size;
        m_lastError.clear();
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
    // Frames handled while events run may step down too; each step reads the quality afresh and
    // only the step that lands on exactly 0 shows the message, so it appears once.
    const int lowered = m_state.jpegQuality() - kQualityStep;
    m_state.setJpegQuality(lowered);
    if (m_letPendingEventsRun) {
        m_letPendingEventsRun();
    }
    if (lowered == 0) {
        m_messages.information(QStringLiteral("Information"), kVideoFrameTooLargeText);
    }
    return VideoSendOutcome::TooLarge;
}

} // namespace talvora
