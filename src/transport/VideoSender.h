#pragma once

#include "base/MessageService.h"
#include "base/NetworkConfig.h"
#include "transport/DatagramSink.h"
#include "transport/VideoSendState.h"

#include <QImage>
#include <QString>

#include <functional>
#include <vector>

namespace talvora {

// Shown once, when the quality step-down reaches 0 (the text is the program's own, typo kept).
inline const QString kVideoFrameTooLargeText =
    QStringLiteral("Video Frame to large. Lower resolution on video camera.");

// What one frame handed to the sender came to.
enum class VideoSendOutcome {
    NotSending, // no connected call: nothing encoded or sent
    Sent,
    TooLarge, // the picture did not fit one datagram; the quality was lowered
    Failed,   // the host did not resolve or the socket failed; the picture is dropped
};

// The sending half of the frame handler: every converted preview frame goes through
// sendFrame(). While a call is connected the picture is compressed into the send buffer and
// sent as one datagram to the peer's video port; a picture too large for one datagram lowers
// the JPEG quality by 5 for the next frames.
class VideoSender {
public:
    // Qualities step down by this much per picture that did not fit.
    static constexpr int kQualityStep = 5;
    // The staging buffer every picture is compressed into.
    static constexpr qsizetype kSendBufferBytes = 1024 * 1024;

    // `letPendingEventsRun` is called after a step-down (the phone passes a processEvents call);
    // frames and datagrams handled in it may call sendFrame() again.
    VideoSender(VideoSendState& state, DatagramSink& sink, MessageService& messages,
                std::function<void()> letPendingEventsRun, quint16 port = kVideoPort);

    VideoSendOutcome sendFrame(const QImage& picture);

    // Bytes of the last picture sent, and why the last send failed (for diagnostics and tests).
    qsizetype lastPictureBytes() const { return m_lastPictureBytes; }
    const QString& lastError() const { return m_lastError; }

private:
    VideoSendOutcome stepDown();

    VideoSendState& m_state;
    DatagramSink& m_sink;
    MessageService& m_messages;
    std::function<void()> m_letPendingEventsRun;
    quint16 m_port;
    std::vector<uchar> m_sendBuffer;
    qsizetype m_lastPictureBytes = 0;
    QString m_lastError;
};

} // namespace talvora
