#include "transport/VideoSender.h"

#include "transport/JpegCodec.h"
#include "transport/PeerPicture.h"
#include "transport/ReassemblyBudget.h"

#include "transport/CameraPictures.h"
#include "transport/TestPictures.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>
#include <vector>

namespace talvora {
namespace {

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

class ManualClock final : public voice::Clock {
public:
    std::int64_t nowUs() const override { return us; }
    void advanceMs(std::int64_t ms) { us += ms * 1000; }
    std::int64_t us = 0;
};

struct SenderFixture : ::testing::Test {
    VideoSendFields state;
    RecordingSink sink;
    ManualClock clock;
    QStringList notices;
    VideoSender sender{state, sink, [this](const QString& text) { notices << text; }, &clock};

    void SetUp() override {
        state.setDestination(QHostAddress("127.0.0.3"));
        state.quality = 90; // the camera-like pictures fit one datagram from here
    }

    // One camera frame, 33 ms after the last.
    VideoSendOutcome frame(const QImage& picture) {
        clock.advanceMs(33);
        return sender.sendFrame(picture);
    }
};

TEST_F(SenderFixture, NothingIsEncodedOrSentWhileVideoIsOff) {
    state.sending = false;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(frame(test::cameraLikePicture(384, 288, i)), VideoSendOutcome::NotSending);
    }
    state.sending = true;
    EXPECT_EQ(frame(QImage()), VideoSendOutcome::NotSending);
    EXPECT_TRUE(sink.sent.empty());
    EXPECT_EQ(state.quality, 90);
    EXPECT_EQ(sender.picturesSent(), 0u);
}

TEST_F(SenderFixture, SendsOneJpegDatagramToTheDestinationsVideoPort) {
    state.sending = true;
    const QImage picture = test::cameraLikePicture(384, 288);
    ASSERT_EQ(frame(picture), VideoSendOutcome::Sent);
    ASSERT_EQ(sink.sent.size(), 1u);
    EXPECT_EQ(sink.sent[0].to, QHostAddress("127.0.0.3"));
    EXPECT_EQ(sink.sent[0].port, kVideoPort);
    // The datagram is exactly the encoder's file at the current quality.
    EXPECT_EQ(sink.sent[0].bytes, encodeJpeg(picture, 90));
    EXPECT_EQ(sender.lastPictureBytes(), sink.sent[0].bytes.size());

    state.setDestination(QHostAddress("127.0.0.9"));
    state.quality = 40;
    ASSERT_EQ(frame(picture), VideoSendOutcome::Sent);
    EXPECT_EQ(sink.sent[1].to, QHostAddress("127.0.0.9"));
    EXPECT_EQ(sink.sent[1].bytes, encodeJpeg(picture, 40));
    EXPECT_EQ(sender.picturesSent(), 2u);
    EXPECT_EQ(sender.packetsSent(),
              quint64(fragmentsOf(sink.sent[0].bytes.size()) + fragmentsOf(sink.sent[1].bytes.size())));
}

TEST_F(SenderFixture, WidePicturesLeaveAtMost640Wide) {
    state.sending = true;
    const struct {
        QSize camera;
        QSize sent;
    } cases[] = {{{640, 480}, {640, 480}}, {{1280, 720}, {640, 360}}, {{1920, 1080}, {640, 360}},
                 {{800, 600}, {640, 480}}, {{1281, 721}, {640, 360}}, {{176, 144}, {176, 144}},
                 {{3000, 10}, {640, 2}}};
    for (const auto& c : cases) {
        ASSERT_EQ(frame(test::cameraLikePicture(c.camera.width(), c.camera.height())),
                  VideoSendOutcome::Sent);
        const QByteArray& bytes = sink.sent.back().bytes;
        const auto header = probeJpeg(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size());
        ASSERT_TRUE(header);
        EXPECT_EQ(QSize(header->width, header->height), c.sent)
            << c.camera.width() << "x" << c.camera.height();
    }
}

TEST_F(SenderFixture, NoticeComesOnceWhenTheQualityReachesExactlyZero) {
    state.sending = true;
    // Ever too large: the system refuses every datagram for its size.
    for (int i = 0; i < 30; ++i) {
        sink.script.push_back(
            {DatagramSendStatus::TooLarge, QStringLiteral("Datagram was too large to send")});
    }
    state.quality = 100;
    const QImage picture = test::cameraLikePicture(64, 48);
    for (int n = 1; n <= 19; ++n) {
        EXPECT_EQ(frame(picture), VideoSendOutcome::TooLarge);
    }
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_EQ(state.quality, 5);
    EXPECT_EQ(frame(picture), VideoSendOutcome::TooLarge);
    EXPECT_EQ(state.quality, 0);
    EXPECT_EQ(notices,
              QStringList{QStringLiteral("Video Frame to large. Lower resolution on video camera.")});
    for (int n = 0; n < 5; ++n) {
        frame(picture);
    }
    EXPECT_EQ(state.quality, -25);
    EXPECT_EQ(notices.size(), 1) << "not again on further failures";
}

TEST_F(SenderFixture, BelowOneTheEncoderUsesQualityOne) {
    state.sending = true;
    const QImage picture = test::cameraLikePicture(160, 120);
    for (int q : {0, -5, -40}) {
        state.quality = q;
        ASSERT_EQ(frame(picture), VideoSendOutcome::Sent);
        EXPECT_EQ(sink.sent.back().bytes, encodeJpeg(picture, 1)) << q;
    }
}

TEST_F(SenderFixture, FailuresThatSayNothingOfTheSizeDropThePictureAndKeepTheQuality) {
    state.sending = true;
    sink.script = {{DatagramSendStatus::Failed, QStringLiteral("Network unreachable")},
                   {DatagramSendStatus::Failed, QStringLiteral("No buffer space available")}};
    EXPECT_EQ(frame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Failed);
    EXPECT_EQ(sender.lastError(), QStringLiteral("Network unreachable"));
    EXPECT_EQ(frame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Failed);
    state.setDestination(QHostAddress());
    EXPECT_EQ(frame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Failed);
    EXPECT_EQ(state.quality, 90);
    EXPECT_TRUE(sink.sent.empty());
    state.setDestination(QHostAddress("127.0.0.3"));
    EXPECT_EQ(frame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Sent);
}

// The test camera's scene compresses as a webcam's picture does: 40 to 60 kB at 384 x 288 and
// quality 100 in every frame of its cycle, and more than one datagram at 720p (sent 640 x 360).
TEST(ScenePictures, CompressLikeAWebcams) {
    test::CameraPictures sd(QStringLiteral("YUY2:384x288:scene"));
    for (quint64 n = 0; n < 90; n += 7) {
        const QImage picture = sd.picture(n);
        ASSERT_EQ(picture.size(), QSize(384, 288));
        const qsizetype bytes = encodeJpeg(picture, 100).size();
        EXPECT_GE(bytes, 40000) << n;
        EXPECT_LE(bytes, 60000) << n;
    }
    test::CameraPictures hd(QStringLiteral("MJPG:1280x720:scene"));
    for (quint64 n : {0, 45}) {
        const QImage picture = pictureForPeer(hd.picture(n));
        ASSERT_EQ(picture.size(), QSize(640, 360));
        EXPECT_GT(encodeJpeg(picture, 100).size(), kMaxDatagramBytes) << n;
    }
}

// A call's sender whose clock the test moves.
struct SceneCall {
    VideoSendFields state;
    RecordingSink sink;
    ManualClock clock;
    VideoSender sender{state, sink, {}, &clock};
    SceneCall() {
        state.sending = true;
        state.setDestination(QHostAddress("127.0.0.3"));
    }
};

// Three seconds of the scene at 30 frames a second under each loss. Without loss every picture
// is the encoder's file at the phone's quality, as before the budget; with loss every picture
// sent fits the budget's ceiling, nearly all at the first encode, and the rate falls only where
// the floor's quality would not fit.
TEST(SenderUnderLoss, PicturesFitTheCeilingMostlyAtOneEncode) {
    const struct {
        double loss;
        bool limited;
        bool slower; // the floor's quality does not fit at 30 a second
    } cases[] = {{0, false, false}, {0.01, true, false}, {0.03, true, false}, {0.1, true, true}};
    test::CameraPictures camera(QStringLiteral("YUY2:384x288:scene"));
    std::vector<QImage> pictures;
    for (quint64 n = 0; n < 90; ++n)
        pictures.push_back(camera.picture(n));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loss);
        SceneCall call;
        auto& [state, sink, clock, sender] = call;
        sender.setPathLoss(c.loss);
        int encodes = 0;
        int held = 0;
        for (const QImage& picture : pictures) {
            clock.advanceMs(33);
            const VideoSendOutcome outcome = sender.sendFrame(picture);
            ASSERT_TRUE(outcome == VideoSendOutcome::Sent || outcome == VideoSendOutcome::Held);
            EXPECT_EQ(sender.lastPlan().limited(), c.limited);
            if (outcome == VideoSendOutcome::Held) {
                ++held;
                continue;
            }
            encodes += sender.lastEncodes();
            const QByteArray& bytes = sink.sent.back().bytes;
            EXPECT_LE(bytes.size(), sender.lastPlan().ceilingBytes);
            if (!c.limited) {
                EXPECT_EQ(bytes, encodeJpeg(picture, 100));
            } else if (sender.lastPlan().picturesPerSecond > PictureBudget::kMinPicturesPerSecond) {
                EXPECT_GE(sender.lastQuality(), PictureBudget::kQualityFloor);
            }
        }
        const double sent = double(sink.sent.size());
        const double rate = sender.lastPlan().picturesPerSecond;
        EXPECT_EQ(rate > 0, c.slower);
        EXPECT_NEAR(sent / 90, c.slower ? rate / 30 : 1.0, 0.05);
        EXPECT_EQ(sink.sent.size() + std::size_t(held), 90u);
        EXPECT_LE(encodes, int(sent * 1.2) + 1) << "most pictures cost one encode";
        EXPECT_EQ(state.quality, 100) << "the budget leaves the step-down's quality alone";
    }
}

// Seals as a private call does, as far as sizes go: 28 bytes more on every datagram.
class PaddingGuard final : public DatagramGuard {
public:
    static constexpr std::size_t kOverhead = 28;
    std::size_t maxPlainBytes() const override { return std::size_t(kMaxDatagramBytes) - kOverhead; }
    std::optional<std::span<const std::uint8_t>> seal(std::span<const std::uint8_t> plain,
                                                      std::span<std::uint8_t> out) override {
        std::fill_n(out.begin(), kOverhead, std::uint8_t(0));
        std::copy(plain.begin(), plain.end(), out.begin() + kOverhead);
        return out.first(plain.size() + kOverhead);
    }
    std::optional<std::span<const std::uint8_t>> open(std::span<const std::uint8_t> datagram,
                                                      std::span<std::uint8_t>) override {
        return datagram;
    }
};

// While the peer reports its reassembly memory full, every frame still goes, as a smaller picture
// of one packet (which needs no reassembly), sealed or not; and full size once the memory frees.
TEST(SenderUnderLoss, AFullPeerMemoryGetsPicturesOfOnePacket) {
    test::CameraPictures camera(QStringLiteral("YUY2:384x288:scene"));
    for (const bool sealed : {false, true}) {
        SCOPED_TRACE(sealed);
        SceneCall call;
        auto& [state, sink, clock, sender] = call;
        if (sealed)
            sender.setDatagramGuard(std::make_shared<PaddingGuard>());
        sender.setPathLoss(0.03);
        sender.setPeerHold(PeerHold{5e6, 0});
        for (quint64 n = 0; n < 30; ++n) {
            clock.advanceMs(33);
            ASSERT_EQ(sender.sendFrame(camera.picture(n)), VideoSendOutcome::Sent) << n;
            EXPECT_LE(sink.sent.back().bytes.size(), 1472) << n;
        }
        if (!sealed) {
            const QImage shown =
                decodeJpeg(reinterpret_cast<const uchar*>(sink.sent.back().bytes.constData()),
                           sink.sent.back().bytes.size());
            EXPECT_LE(shown.width(), 192);
            EXPECT_EQ(shown.width() * 288, shown.height() * 384) << "the camera's shape";
        }
        sender.setPeerHold(PeerHold{0, 30});
        sender.setPathLoss(0);
        clock.advanceMs(60000);
        ASSERT_EQ(sender.sendFrame(camera.picture(0)), VideoSendOutcome::Sent);
        EXPECT_GT(sink.sent.back().bytes.size(), 20000);
    }
}

// The budget counts with the camera's rate over the last second, not with its last interval: a
// burst of frames after a stall is no faster camera.
TEST_F(SenderFixture, TheBudgetCountsWithTheFramesOfTheLastSecond) {
    state.sending = true;
    sender.setPathLoss(0.01);
    const QImage picture = test::cameraLikePicture(64, 48);
    for (int i = 0; i < 40; ++i) { // 15 frames a second
        clock.advanceMs(66);
        sender.sendFrame(picture);
    }
    EXPECT_EQ(sender.lastPlan().ceilingBytes, pictureCeiling(0.01, 16)); // 16 frames within 1 s
    clock.advanceMs(400);
    for (int i = 0; i < 8; ++i) {
        clock.advanceMs(1);
        sender.sendFrame(picture);
    }
    EXPECT_EQ(sender.lastPlan().ceilingBytes, pictureCeiling(0.01, 17)); // 9 + 8
}

// The phone runs the sender on its capture thread while the window thread connects and ends
// calls and hands in the loss: none of that may race (run under ThreadSanitizer too).
TEST(SenderThreads, TheWindowThreadSteersWhileTheCaptureThreadSends) {
    VideoSendFields state;
    state.setDestination(QHostAddress("127.0.0.3"));
    RecordingSink sink;
    VideoSender sender(state, sink);
    const QImage picture = test::cameraLikePicture(64, 48);
    std::atomic<bool> stop{false};
    std::thread capture([&] {
        while (!stop)
            sender.sendFrame(picture);
    });
    quint64 seen = 0;
    for (int i = 0; i < 3000; ++i) {
        state.sending = i % 7 != 0;
        state.setDestination(QHostAddress(i % 2 ? "127.0.0.3" : "127.0.0.4"));
        sender.setPathLoss(i % 3 ? 0.0 : 0.02);
        EXPECT_GE(sender.picturesSent(), seen);
        seen = sender.picturesSent();
        if (i % 100 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    capture.join();
    EXPECT_GT(sender.picturesSent(), 0u);
    EXPECT_EQ(sender.picturesSent(), sink.sent.size());
    for (const auto& d : sink.sent)
        EXPECT_TRUE(d.to == QHostAddress("127.0.0.3") || d.to == QHostAddress("127.0.0.4"));
}

// Each call starts its budget afresh: the last call's loss, fading, does not shrink the next
// call's first pictures.
TEST_F(SenderFixture, EachCallStartsItsBudgetAfresh) {
    const QImage picture = test::cameraLikePicture(160, 120);
    state.sending = true;
    sender.setPathLoss(0.01);
    ASSERT_EQ(frame(picture), VideoSendOutcome::Sent);
    EXPECT_EQ(sender.lastPlan(), (PicturePlan{pictureCeiling(0.01, 30), 0}));
    state.sending = false;
    EXPECT_EQ(frame(picture), VideoSendOutcome::NotSending);
    sender.setPathLoss(0); // as the phone does when a call begins
    state.sending = true;
    ASSERT_EQ(frame(picture), VideoSendOutcome::Sent);
    EXPECT_FALSE(sender.lastPlan().limited());
}

} // namespace
} // namespace talvora
