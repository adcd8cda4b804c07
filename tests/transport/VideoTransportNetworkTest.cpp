// Two phones' video endpoints in one process: phone A on 127.0.0.2 and phone B on 127.0.0.3,
// each with a real sender socket bound to its address and a real receiver on the video port.
#include "transport/JpegCodec.h"
#include "transport/UdpDatagramSink.h"
#include "transport/VideoReceiver.h"
#include "transport/VideoSender.h"

#include "base/Error.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "transport/TestPictures.h"

#include <QCoreApplication>
#include <QFile>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace talvora {
namespace {

using test::pumpEvents;
using test::waitUntil;

struct Phone {
    explicit Phone(const char* address)
        : config{QHostAddress(QString::fromLatin1(address))}, sink(config), receiver(config),
          sender(state, sink, [this](const QString& text) { notices << text; }) {
        QObject::connect(&receiver, &VideoReceiver::pictureReceived,
                         [this](const QImage& p, const QHostAddress& from) {
                             pictures.push_back(p);
                             senders.push_back(from.toString());
                         });
        QObject::connect(&receiver, &VideoReceiver::firstPeer,
                         [this](const QString& peer) { firstPeers.push_back(peer); });
        receiver.open();
    }

    NetworkConfig config;
    VideoSendFields state;
    QStringList notices;
    UdpDatagramSink sink;
    VideoReceiver receiver;
    VideoSender sender;
    std::vector<QImage> pictures;
    QStringList senders;
    QStringList firstPeers;
};

struct TwoPhones : ::testing::Test {
    Phone a{"127.0.0.2"};
    Phone b{"127.0.0.3"};

    void SetUp() override {
        a.state.setDestination(QHostAddress("127.0.0.3"));
        b.state.setDestination(QHostAddress("127.0.0.2"));
    }
};

// A datagram is counted when read and judged after its round's decode, later on the pictures'
// thread: true once every datagram read has had its verdict.
bool allJudged(const VideoReceiver& receiver) {
    const auto c = receiver.counters();
    return c.strangers + c.superseded + c.pictures + c.rejected + c.unopened == c.datagrams;
}

// A stranger on the network, sending whatever it likes to B's video port.
struct Stranger {
    QUdpSocket socket;
    Stranger() { EXPECT_TRUE(socket.bind(QHostAddress("127.0.0.4"), 0)); }
    void send(const QByteArray& bytes) { socket.writeDatagram(bytes, QHostAddress("127.0.0.3"), kVideoPort); }
};

TEST_F(TwoPhones, NoPictureLeavesWhileVideoIsOff) {
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(a.sender.sendFrame(test::cameraLikePicture(384, 288, i)), VideoSendOutcome::NotSending);
    }
    pumpEvents(300);
    EXPECT_EQ(b.receiver.counters().datagrams, 0u);
    EXPECT_TRUE(b.pictures.empty());
}

TEST_F(TwoPhones, PicturesArriveBothWaysFromTheBoundAddresses) {
    a.state.sending = true;
    b.state.sending = true;
    a.state.quality = 90;
    b.state.quality = 90;
    const QImage fromA = test::cameraLikePicture(384, 288, 1);
    const QImage fromB = test::cameraLikePicture(640, 480, 2);
    ASSERT_EQ(a.sender.sendFrame(fromA), VideoSendOutcome::Sent);
    ASSERT_EQ(b.sender.sendFrame(fromB), VideoSendOutcome::Sent);
    ASSERT_TRUE(waitUntil([&] { return !a.pictures.empty() && !b.pictures.empty(); }));

    EXPECT_EQ(b.pictures[0].size(), QSize(384, 288));
    EXPECT_EQ(a.pictures[0].size(), QSize(640, 480));
    // Bit for bit what the decoder makes of the encoder's file.
    const QByteArray file = encodeJpeg(fromA, 90);
    EXPECT_EQ(b.pictures[0], decodeJpeg(reinterpret_cast<const uchar*>(file.constData()), file.size()));
    EXPECT_EQ(b.senders[0], QStringLiteral("127.0.0.2"));
    EXPECT_EQ(a.senders[0], QStringLiteral("127.0.0.3"));
    EXPECT_EQ(b.firstPeers, QStringList{QStringLiteral("127.0.0.2")});
    EXPECT_EQ(a.firstPeers, QStringList{QStringLiteral("127.0.0.3")});

    // A stream of frames: every one arrives when the receiver keeps up.
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(a.sender.sendFrame(test::cameraLikePicture(384, 288, i)), VideoSendOutcome::Sent);
        ASSERT_TRUE(waitUntil([&] { return b.pictures.size() == std::size_t(i) + 2; }));
    }
    EXPECT_EQ(b.receiver.counters().rejected, 0u);
}

TEST_F(TwoPhones, GrainyPictureStepsTheQualityDownUntilItFits) {
    a.state.sending = true;
    // Full HD leaves 640 wide; this much grain still needs more than one datagram at first.
    const QImage grainy = test::grainyPicture(1920, 1080, 48);
    std::vector<int> tried;
    VideoSendOutcome outcome = VideoSendOutcome::TooLarge;
    while (outcome == VideoSendOutcome::TooLarge && tried.size() < 25) {
        tried.push_back(a.state.quality);
        outcome = a.sender.sendFrame(grainy);
    }
    ASSERT_EQ(outcome, VideoSendOutcome::Sent);
    for (std::size_t i = 0; i < tried.size(); ++i) {
        EXPECT_EQ(tried[i], 100 - 5 * int(i));
    }
    EXPECT_GT(tried.size(), 1u);
    EXPECT_GT(a.state.quality, 0);
    EXPECT_TRUE(a.notices.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !b.pictures.empty(); }));
    EXPECT_EQ(b.pictures[0].size(), QSize(640, 360));
}

TEST_F(TwoPhones, PictureThatNeverFitsBringsTheNoticeOnceAtZero) {
    a.state.sending = true;
    // Even at quality 1 this much noise, 640 wide and tall, needs more than one datagram.
    const QImage noisy = test::noisePicture(640, 2400, 7);
    for (int frame = 0; frame < 23; ++frame) {
        EXPECT_EQ(a.sender.sendFrame(noisy), VideoSendOutcome::TooLarge);
        EXPECT_EQ(a.notices.size(), frame >= 19 ? 1 : 0) << "frame " << frame;
    }
    EXPECT_EQ(a.state.quality, -15);
    EXPECT_EQ(a.notices, QStringList{kVideoFrameTooLargeText});
    pumpEvents(100);
    EXPECT_EQ(b.receiver.counters().datagrams, 0u);
}

TEST_F(TwoPhones, HostileDatagramsAreDroppedAndTheReceiverGoesOn) {
    Stranger stranger;
    const QByteArray good = encodeJpeg(test::cameraLikePicture(384, 288), 90);
    QByteArray huge = encodeJpeg(test::cameraLikePicture(16, 16), 50);
    const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    huge[sof + 5] = char(0xFD);
    huge[sof + 6] = char(0xE8);
    huge[sof + 7] = char(0xFD);
    huge[sof + 8] = char(0xE8);
    QByteArray random(4000, Qt::Uninitialized);
    test::Lcg rng(5);
    for (auto& c : random) {
        c = char(rng.byte());
    }

    const QByteArray hostile[] = {good.left(good.size() / 2), good.left(3), random, huge,
                                  QByteArray(65507, char(0xFF))};
    quint64 expected = 0;
    for (const QByteArray& d : hostile) {
        stranger.send(d);
        ++expected;
        ASSERT_TRUE(
            waitUntil([&] { return b.receiver.counters().datagrams == expected && allJudged(b.receiver); }));
    }
    EXPECT_EQ(b.receiver.counters().rejected, expected);
    EXPECT_TRUE(b.pictures.empty());
    EXPECT_FALSE(b.receiver.lastRejection().isEmpty());

    // An empty datagram is no picture and not counted at all.
    stranger.send(QByteArray());
    stranger.send(good);
    ASSERT_TRUE(waitUntil([&] { return b.pictures.size() == 1; }));
    EXPECT_EQ(b.pictures[0].size(), QSize(384, 288));
    EXPECT_EQ(b.receiver.counters().datagrams, expected + 1);
}

TEST_F(TwoPhones, FirstDatagramAfterTheVideoStartNamesThePeer) {
    Stranger stranger;
    // An empty datagram is not delivered, so it does not count as the first.
    stranger.send(QByteArray());
    pumpEvents(50);
    EXPECT_TRUE(b.firstPeers.isEmpty());
    EXPECT_FALSE(b.receiver.peerKnown());

    a.state.sending = true;
    ASSERT_EQ(a.sender.sendFrame(test::cameraLikePicture(160, 120)), VideoSendOutcome::Sent);
    ASSERT_TRUE(waitUntil([&] { return b.pictures.size() == 1; }));
    EXPECT_EQ(b.firstPeers, QStringList{QStringLiteral("127.0.0.2")});
    EXPECT_TRUE(b.receiver.peerKnown());

    // Later datagrams, from anyone and even undecodable ones, leave it alone.
    stranger.send(QByteArray("not a picture"));
    ASSERT_TRUE(waitUntil([&] { return b.receiver.counters().datagrams == 2; }));
    EXPECT_EQ(b.firstPeers.size(), 1);

    // A new video start forgets the peer; the next sender is reported, picture or not.
    b.receiver.open();
    EXPECT_FALSE(b.receiver.peerKnown());
    stranger.send(QByteArray("still not a picture"));
    ASSERT_TRUE(waitUntil([&] { return b.firstPeers.size() == 2; }));
    EXPECT_EQ(b.firstPeers[1], QStringLiteral("127.0.0.4"));
}

TEST_F(TwoPhones, AFloodIsDrainedAndOnlyTheNewestPicturesAreDecoded) {
    Stranger stranger;
    constexpr int kSent = 200;
    for (int i = 0; i < kSent; ++i) {
        // Each picture's colour says which it was.
        stranger.send(encodeJpeg(test::flatPicture(64, 48, QColor(i, 0, 255 - i)), 90));
    }
    // A kernel with a small receive buffer may drop some of the flood; what arrives is drained.
    waitUntil([&] { return b.receiver.counters().datagrams == kSent; }, 3000);
    ASSERT_TRUE(waitUntil([&] { return allJudged(b.receiver) && !b.pictures.empty(); }));
    pumpEvents(50); // the newest picture's delivery to this thread follows its verdict
    const auto& c = b.receiver.counters();
    ASSERT_GT(c.datagrams, quint64(2 * VideoReceiver::kMaxDatagramsPerRound));
    EXPECT_EQ(c.pictures + c.superseded, c.datagrams) << "every datagram decoded or superseded";
    EXPECT_LE(b.pictures.size(), c.pictures) << "the window never gets more than was decoded";
    ASSERT_FALSE(b.pictures.empty());
    if (c.datagrams == quint64(kSent)) {
        const QColor last = b.pictures.back().pixelColor(32, 24);
        EXPECT_NEAR(last.red(), kSent - 1, 3) << "the newest picture is the one shown";
        EXPECT_NEAR(last.blue(), 255 - (kSent - 1), 3);
    }
}

// The main window's slot may run a nested event loop (a message box) while a picture is being
// delivered; datagrams arriving meanwhile are read after it returns, not inside it.
TEST_F(TwoPhones, PicturesArrivingDuringANestedEventLoopAreReadAfterIt) {
    Stranger stranger;
    const QByteArray first = encodeJpeg(test::flatPicture(64, 48, Qt::red), 90);
    const QByteArray second = encodeJpeg(test::flatPicture(32, 24, Qt::blue), 90);
    int depth = 0;
    int maxDepth = 0;
    QObject::connect(&b.receiver, &VideoReceiver::pictureReceived, [&] {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (b.pictures.size() == 1) {
            stranger.send(second);
            pumpEvents(100);
        }
        --depth;
    });
    stranger.send(first);
    ASSERT_TRUE(waitUntil([&] { return b.pictures.size() == 2; }));
    EXPECT_EQ(maxDepth, 1) << "no picture delivered inside another's delivery";
    EXPECT_EQ(b.pictures[1].size(), QSize(32, 24));
}

// Pictures keep coming through bursts and a stranger's trickle, whatever the socket signals:
// every burst leaves datagrams over for a later round, and a peer's next picture must still be
// seen within a few frames.
TEST_F(TwoPhones, PicturesKeepComingAfterBurstsAndAStrangersTrickle) {
    Stranger stranger;
    const QByteArray tiny("x");
    const QByteArray picture = encodeJpeg(test::flatPicture(64, 48, Qt::green), 90);
    a.state.sending = true;
    for (int burst = 0; burst < 5; ++burst) {
        for (int i = 0; i < 3 * VideoReceiver::kMaxDatagramsPerRound; ++i) {
            stranger.send(i % 2 ? tiny : picture);
        }
        for (int i = 0; i < 10; ++i) {
            stranger.send(tiny);
            const std::size_t before = b.pictures.size();
            ASSERT_EQ(a.sender.sendFrame(test::cameraLikePicture(160, 120, i)), VideoSendOutcome::Sent);
            ASSERT_TRUE(waitUntil([&] { return b.pictures.size() > before; }, 2000))
                << "burst " << burst << ", picture " << i << ": the receiver stalled";
        }
    }
}

// During a call only the peer's pictures are decoded; a stranger's datagrams are dropped unread.
TEST_F(TwoPhones, DuringACallOnlyThePeersPicturesAreDecoded) {
    Stranger stranger;
    b.receiver.acceptOnlyFrom(QHostAddress(QStringLiteral("127.0.0.2")));
    a.state.sending = true;
    const QByteArray strangersPicture = encodeJpeg(test::flatPicture(64, 48, Qt::red), 90);
    for (int i = 0; i < 20; ++i) {
        stranger.send(strangersPicture);
        stranger.send("junk");
        ASSERT_EQ(a.sender.sendFrame(test::cameraLikePicture(160, 120, i)), VideoSendOutcome::Sent);
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            return b.receiver.counters().datagrams == 60 && allJudged(b.receiver) && !b.firstPeers.empty();
        },
        3000));
    pumpEvents(50); // the newest picture's delivery to this thread follows its verdict
    const auto& c = b.receiver.counters();
    EXPECT_EQ(c.strangers, 40u);
    EXPECT_EQ(c.rejected, 0u);
    EXPECT_EQ(c.pictures + c.superseded, 20u);
    EXPECT_EQ(b.senders.filter("127.0.0.4"), QStringList{});
    EXPECT_EQ(b.firstPeers, QStringList{"127.0.0.2"});
}

TEST_F(TwoPhones, ReceiveBufferIsRaisedAsFarAsTheKernelAllows) {
    QFile f(QStringLiteral("/proc/sys/net/core/rmem_max"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const qint64 rmemMax = f.readAll().trimmed().toLongLong();
    // Linux reports twice what it grants (the other half is its bookkeeping).
    const qint64 expected = 2 * std::min<qint64>(rmemMax, VideoReceiver::kReceiveBufferBytes);
    EXPECT_EQ(b.receiver.socketReceiveBufferBytes(), expected);
}

TEST_F(TwoPhones, ASecondReceiverOnTheSamePortIsAnError) {
    VideoReceiver twin(b.config);
    EXPECT_THROW(twin.open(), Error);
    EXPECT_FALSE(twin.isOpen());
    // Every local address overlaps the bound ones as well.
    VideoReceiver everywhere(NetworkConfig{});
    EXPECT_THROW(everywhere.open(), Error);
}

TEST(UdpDatagramSinkBind, AnAddressThatIsNotLocalIsAnError) {
    // A documentation address: never configured here, so binding fails before anything is sent.
    EXPECT_THROW(UdpDatagramSink(NetworkConfig{QHostAddress(QStringLiteral("192.0.2.77"))}), Error);
    EXPECT_NO_THROW(UdpDatagramSink(NetworkConfig{}));
}

// Pictures leave from the address a call came to when the phone listens on every address.
TEST(UdpDatagramSinkBind, PicturesLeaveFromTheSourceGiven) {
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress(QStringLiteral("127.0.0.9")), 0));
    UdpDatagramSink sink{NetworkConfig{}};
    const uchar byte = 7;
    for (const char* source : {"127.0.0.5", "127.0.0.6"}) {
        sink.setSource(QHostAddress(QString::fromLatin1(source)));
        ASSERT_EQ(sink.send(&byte, 1, QHostAddress(QStringLiteral("127.0.0.9")), peer.localPort()).status,
                  DatagramSendStatus::Sent);
        ASSERT_TRUE(waitUntil([&] { return peer.hasPendingDatagrams(); }));
        QHostAddress from;
        char got = 0;
        peer.readDatagram(&got, 1, &from);
        EXPECT_EQ(from.toString(), QString::fromLatin1(source));
    }
}

TEST(UdpDatagramSinkBind, BroadcastAddressesAreRefused) {
    UdpDatagramSink sink{NetworkConfig{}};
    const uchar byte = 0;
    EXPECT_EQ(sink.send(&byte, 1, QHostAddress(QStringLiteral("127.255.255.255")), kVideoPort).status,
              DatagramSendStatus::Failed);
    EXPECT_EQ(sink.send(&byte, 1, QHostAddress(QStringLiteral("127.0.0.9")), kVideoPort).status,
              DatagramSendStatus::Sent);
}

TEST(VideoReceiverBind, EveryLocalAddressByDefault) {
    VideoReceiver receiver(NetworkConfig{});
    ASSERT_NO_THROW(receiver.open());
    int pictures = 0;
    QObject::connect(&receiver, &VideoReceiver::pictureReceived, [&] { ++pictures; });
    QUdpSocket s;
    const QByteArray file = encodeJpeg(test::cameraLikePicture(64, 48), 80);
    s.writeDatagram(file, QHostAddress("127.0.0.9"), kVideoPort);
    s.writeDatagram(file, QHostAddress::LocalHost, kVideoPort);
    EXPECT_TRUE(waitUntil([&] { return receiver.counters().datagrams == 2; }));
    receiver.close();
    EXPECT_FALSE(receiver.isOpen());
}

} // namespace
} // namespace talvora
