#include "transport/VideoSender.h"

#include "support/FakeMessageService.h"
#include "transport/JpegCodec.h"
#include "transport/TestPictures.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace talvora {
namespace {

using test::FakeMessageService;

// Records every datagram; answers with scripted results (Sent when the script is empty).
class RecordingSink : public DatagramSink {
public:
    struct Datagram {
        QByteArray bytes;
        QHostAddress to;
        quint16 port;
    };
    std::vector<Datagram> sent;
    std::deque<DatagramSendResult> script;

    DatagramSendResult send(const uchar* data, qsizetype size, const QHostAddress& to,
                            quint16 port) override {
        if (!script.empty()) {
            DatagramSendResult r = script.front();
            script.pop_front();
            if (r.status != DatagramSendStatus::Sent) {
                return r;
            }
        }
        sent.push_back({QByteArray(reinterpret_cast<const char*>(data), size), to, port});
        return {DatagramSendStatus::Sent, {}};
    }
};

struct SenderFixture : ::testing::Test {
    VideoSendFields state;
    RecordingSink sink;
    FakeMessageService messages;
    int eventRuns = 0;
    std::function<void()> duringEvents;
    VideoSender sender{state, sink, messages, [this] {
                           ++eventRuns;
                           if (duringEvents) {
                               duringEvents();
                           }
                       }};

    void SetUp() override {
        state.host = QStringLiteral("127.0.0.3");
        state.quality = 100;
    }
};

TEST_F(SenderFixture, NothingIsEncodedOrSentWhileVideoIsOff) {
    state.sending = false;
    state.host = QStringLiteral("no-such-host.invalid"); // would fail if it were even resolved
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(sender.sendFrame(test::cameraLikePicture(384, 288, i)), VideoSendOutcome::NotSending);
    }
    EXPECT_TRUE(sink.sent.empty());
    EXPECT_EQ(state.quality, 100);
    EXPECT_EQ(eventRuns, 0);
}

TEST_F(SenderFixture, SendsOneJpegDatagramToTheVideoPortOfTheResolvedHost) {
    state.sending = true;
    const QImage picture = test::cameraLikePicture(384, 288);
    ASSERT_EQ(sender.sendFrame(picture), VideoSendOutcome::Sent);
    ASSERT_EQ(sink.sent.size(), 1u);
    EXPECT_EQ(sink.sent[0].to, QHostAddress("127.0.0.3"));
    EXPECT_EQ(sink.sent[0].port, kVideoPort);
    // The datagram is exactly the encoder's file at the current quality.
    EXPECT_EQ(sink.sent[0].bytes, encodeJpeg(picture, 100));
    EXPECT_EQ(sender.lastPictureBytes(), sink.sent[0].bytes.size());

    state.host = QStringLiteral("LocalHost");
    state.quality = 40;
    ASSERT_EQ(sender.sendFrame(picture), VideoSendOutcome::Sent);
    EXPECT_EQ(sink.sent[1].to, QHostAddress("127.0.0.1"));
    EXPECT_EQ(sink.sent[1].bytes, encodeJpeg(picture, 40));
}

TEST_F(SenderFixture, MessageShowsOnceWhenTheQualityReachesExactlyZero) {
    state.sending = true;
    // Ever too large: the system refuses every datagram for its size.
    for (int i = 0; i < 30; ++i) {
        sink.script.push_back(
            {DatagramSendStatus::TooLarge, QStringLiteral("Datagram was too large to send")});
    }
    const QImage picture = test::cameraLikePicture(64, 48);
    for (int frame = 1; frame <= 19; ++frame) {
        EXPECT_EQ(sender.sendFrame(picture), VideoSendOutcome::TooLarge);
        EXPECT_TRUE(messages.boxes.isEmpty()) << "frame " << frame;
    }
    EXPECT_EQ(state.quality, 5);
    EXPECT_EQ(sender.sendFrame(picture), VideoSendOutcome::TooLarge);
    EXPECT_EQ(state.quality, 0);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, FakeMessageService::Kind::Information);
    EXPECT_EQ(messages.boxes[0].caption, QStringLiteral("Information"));
    EXPECT_EQ(messages.boxes[0].text,
              QStringLiteral("Video Frame to large. Lower resolution on video camera."));
    for (int frame = 0; frame < 5; ++frame) {
        sender.sendFrame(picture);
    }
    EXPECT_EQ(state.quality, -25);
    EXPECT_EQ(messages.boxes.size(), 1) << "not again on further failures";
}

TEST_F(SenderFixture, BelowOneTheEncoderUsesQualityOne) {
    state.sending = true;
    const QImage picture = test::cameraLikePicture(160, 120);
    for (int q : {0, -5, -40}) {
        state.quality = q;
        ASSERT_EQ(sender.sendFrame(picture), VideoSendOutcome::Sent);
        EXPECT_EQ(sink.sent.back().bytes, encodeJpeg(picture, 1)) << q;
    }
}

TEST_F(SenderFixture, SocketErrorsDropThePictureAndKeepTheQuality) {
    state.sending = true;
    sink.script = {{DatagramSendStatus::Failed, QStringLiteral("Network unreachable")},
                   {DatagramSendStatus::Failed, QStringLiteral("No buffer space available")}};
    EXPECT_EQ(sender.sendFrame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Failed);
    EXPECT_EQ(sender.lastError(), QStringLiteral("Network unreachable"));
    EXPECT_EQ(sender.sendFrame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Failed);
    EXPECT_EQ(state.quality, 100);
    EXPECT_EQ(sender.sendFrame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Sent);
}

// Frames keep coming while step-down lets events run and while the message box is open. They
// share the send buffer; each must still go out whole, and the message still shows once.
TEST_F(SenderFixture, FramesHandledInsideTheStepDownShareTheBufferSafely) {
    state.sending = true;
    state.quality = 15;
    const QImage small = test::cameraLikePicture(160, 120, 1);
    int depth = 0;
    duringEvents = [&] {
        if (depth < 3) {
            ++depth;
            sink.script.push_back({DatagramSendStatus::TooLarge, {}});
            sender.sendFrame(small); // nested: steps down again
            sender.sendFrame(small); // nested: fits
            --depth;
        }
    };
    messages.whileOpen = [&] { sender.sendFrame(small); };
    sink.script.push_back({DatagramSendStatus::TooLarge, {}});
    sender.sendFrame(small);
    EXPECT_EQ(messages.boxes.size(), 1);
    EXPECT_LT(state.quality, 0);
    ASSERT_FALSE(sink.sent.empty());
    for (const auto& d : sink.sent) {
        const QImage decoded =
            decodeJpeg(reinterpret_cast<const uchar*>(d.bytes.constData()), d.bytes.size());
        EXPECT_EQ(decoded.size(), QSize(160, 120));
    }
}

TEST_F(SenderFixture, AnEmptyPictureIsNotSent) {
    state.sending = true;
    EXPECT_EQ(sender.sendFrame(QImage()), VideoSendOutcome::NotSending);
    EXPECT_TRUE(sink.sent.empty());
}

} // namespace
} // namespace talvora
