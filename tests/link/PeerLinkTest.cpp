// Two link endpoints on loopback (127.0.0.2 and 127.0.0.3), and what strangers and stale calls
// can do to them (127.0.0.4, or a socket of their own on the peer's address).

#include "link/PeerLink.h"
#include "support/EventLoop.h"

#include <QSignalSpy>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace talvora {
namespace {

using test::pumpEvents;
using test::waitUntil;

const QHostAddress kA(QStringLiteral("127.0.0.2"));
const QHostAddress kB(QStringLiteral("127.0.0.3"));
const QHostAddress kStranger(QStringLiteral("127.0.0.4"));
constexpr int kWaitMs = 20000; // generous: the machine may be busy

struct Side {
    Side(const QHostAddress& address, quint32 capabilities, PeerLink::Timing timing = {})
        : link(NetworkConfig{address}, capabilities, timing), talvora(&link, &PeerLink::peerIsTalvora),
          older(&link, &PeerLink::peerIsOlder), hangUps(&link, &PeerLink::hangUpReceived),
          reports(&link, &PeerLink::reportReceived), others(&link, &PeerLink::messageReceived) {
        link.open();
    }
    PeerLink link;
    QSignalSpy talvora, older, hangUps, reports, others;
};

// Sends raw bytes to `to`'s link port from a socket of its own on `from`.
void sendFrom(const QHostAddress& from, const QHostAddress& to, const QByteArray& bytes) {
    QUdpSocket socket;
    ASSERT_TRUE(socket.bind(from, 0));
    ASSERT_EQ(socket.writeDatagram(bytes, to, kLinkPort), bytes.size());
}

// Records what reaches a link port that no phone holds.
struct Listener {
    explicit Listener(const QHostAddress& address) { bound = socket.bind(address, kLinkPort); }
    QList<QByteArray> drain() {
        QList<QByteArray> out;
        while (socket.hasPendingDatagrams()) {
            QByteArray b(socket.pendingDatagramSize(), '\0');
            socket.readDatagram(b.data(), b.size());
            out << b;
        }
        return out;
    }
    QUdpSocket socket;
    bool bound = false;
};

TEST(PeerLink, TwoTalvoraPhonesHearEachOtherEvenWhenOneStartsLate) {
    for (int lateMs : {0, 700}) {
        Side a(kA, kLinkReports | kLinkHangUp), b(kB, kLinkReports);
        a.link.beginCall(kB);
        pumpEvents(lateMs); // A's first hellos reach a B that is in no call: dropped there
        b.link.beginCall(kA);
        ASSERT_TRUE(waitUntil([&] { return a.talvora.size() == 1 && b.talvora.size() == 1; }, kWaitMs))
            << lateMs;
        EXPECT_EQ(a.talvora.at(0).at(0).toUInt(), quint32(kLinkReports)) << lateMs;
        EXPECT_EQ(b.talvora.at(0).at(0).toUInt(), quint32(kLinkReports | kLinkHangUp)) << lateMs;
        EXPECT_EQ(a.link.peerKind(), PeerLink::PeerKind::Talvora);

        // Once each has heard the other, the hellos stop.
        pumpEvents(600);
        const quint64 settled = a.link.counters().datagrams + b.link.counters().datagrams;
        pumpEvents(800);
        EXPECT_EQ(a.link.counters().datagrams + b.link.counters().datagrams, settled) << lateMs;

        // Messages flow both ways.
        ASSERT_TRUE(a.link.send(LinkType::Report, encodeReport({1, 30, 100, 101, 29})));
        ASSERT_TRUE(b.link.send(LinkType::HangUp));
        ASSERT_TRUE(a.link.send(LinkType(20), "commit"));
        ASSERT_TRUE(waitUntil(
            [&] { return b.reports.size() == 1 && a.hangUps.size() == 1 && !b.others.isEmpty(); }, kWaitMs));
        EXPECT_EQ(b.reports.at(0).at(0).value<LinkReport>(), (LinkReport{1, 30, 100, 101, 29}));
        EXPECT_EQ(b.others.at(0).at(0).toUInt(), 20u);
        EXPECT_EQ(b.others.at(0).at(1).toByteArray(), "commit");
        EXPECT_EQ(a.older.size() + b.older.size(), 0) << lateMs;
    }
}

TEST(PeerLink, APeerThatNeverSaysHelloIsAnOlderPhoneAndGetsNothingElse) {
    Listener oldPhone(kB); // holds B's port but never answers, as a firewall or an older phone would
    ASSERT_TRUE(oldPhone.bound);
    Side a(kA, kLinkReports, {.helloIntervalMs = 50, .helloTimeoutMs = 400});
    a.link.beginCall(kB);
    ASSERT_TRUE(waitUntil([&] { return a.older.size() == 1; }, kWaitMs));
    EXPECT_EQ(a.link.peerKind(), PeerLink::PeerKind::Older);
    EXPECT_FALSE(a.link.send(LinkType::HangUp));
    const QList<QByteArray> got = oldPhone.drain();
    ASSERT_FALSE(got.isEmpty());
    for (const QByteArray& d : got) {
        EXPECT_EQ(decodeLinkMessage(d)->header.type, quint8(LinkType::Hello));
    }
    // A hello that comes too late changes nothing.
    sendFrom(kB, kA, encodeLinkMessage(LinkType::Hello, 9, 0, encodeHello({1})));
    pumpEvents(200);
    EXPECT_EQ(a.talvora.size(), 0);
}

TEST(PeerLink, WithoutItsPortAPhoneCallsAsAnOlderOne) {
    Listener taken(kA); // another program holds the port
    ASSERT_TRUE(taken.bound);
    Side a(kA, kLinkReports);
    EXPECT_FALSE(a.link.isOpen());
    a.link.beginCall(kB);
    EXPECT_EQ(a.older.size(), 0); // told from the event loop, not from inside beginCall
    ASSERT_TRUE(waitUntil([&] { return a.older.size() == 1; }, kWaitMs));
}

TEST(PeerLink, StrangersStaleCallsAndForgedTagsAreDropped) {
    Side a(kA, kLinkHangUp), b(kB, kLinkHangUp);
    Listener tap(kStranger);
    a.link.beginCall(kB);
    b.link.beginCall(kA);
    ASSERT_TRUE(waitUntil([&] { return a.talvora.size() == 1 && b.talvora.size() == 1; }, kWaitMs));
    pumpEvents(300);

    const quint64 anyTag = 0x1234;
    const struct {
        const char* name;
        QHostAddress from;
        QByteArray bytes;
        quint64 PeerLink::Counters::*counter;
    } cases[] = {
        {"a stranger's hang-up", kStranger, encodeLinkMessage(LinkType::HangUp, anyTag, 0),
         &PeerLink::Counters::strangers},
        {"a stranger's hello", kStranger, encodeLinkMessage(LinkType::Hello, anyTag, 0, encodeHello({1})),
         &PeerLink::Counters::strangers},
        {"the peer's address, a guessed tag", kB, encodeLinkMessage(LinkType::HangUp, anyTag, anyTag),
         &PeerLink::Counters::wrongTag},
        {"the peer's address, a second sender tag in a hello", kB,
         encodeLinkMessage(LinkType::Hello, anyTag, 0, encodeHello({1})), &PeerLink::Counters::wrongTag},
        {"the peer's address, garbage", kB, QByteArray("TLVR\x01\x03garbage"),
         &PeerLink::Counters::malformed},
        {"the peer's address, a hello too long", kB,
         encodeLinkMessage(LinkType::Hello, anyTag, 0, encodeHello({1}) + "x"),
         &PeerLink::Counters::malformed},
    };
    for (const auto& c : cases) {
        const quint64 before = a.link.counters().*c.counter;
        sendFrom(c.from, kA, c.bytes);
        EXPECT_TRUE(waitUntil([&] { return a.link.counters().*c.counter == before + 1; }, kWaitMs)) << c.name;
    }
    EXPECT_EQ(a.hangUps.size(), 0);
    EXPECT_EQ(a.talvora.size(), 1);

    // The first call's messages, replayed into a second call between the same two phones,
    // name the first call's tags and are not the second call's.
    const quint64 oldA = a.link.ownTag(), oldB = b.link.ownTag();
    ASSERT_EQ(a.link.peerTag(), oldB);
    a.link.endCall();
    b.link.endCall();
    b.link.beginCall(kA);
    pumpEvents(300); // B's hellos reach an A in no call
    EXPECT_GE(a.link.counters().strangers, 3u);
    a.link.beginCall(kB);
    ASSERT_TRUE(waitUntil([&] { return a.talvora.size() == 2; }, kWaitMs));
    const quint64 wrongBefore = a.link.counters().wrongTag;
    sendFrom(kB, kA, encodeLinkMessage(LinkType::Hello, oldB, oldA, encodeHello({1})));
    sendFrom(kB, kA, encodeLinkMessage(LinkType::HangUp, oldB, oldA));
    EXPECT_TRUE(waitUntil([&] { return a.link.counters().wrongTag == wrongBefore + 2; }, kWaitMs));
    EXPECT_EQ(a.hangUps.size(), 0);
    EXPECT_TRUE(tap.drain().isEmpty()); // nothing ever went to anyone but the peer
}

} // namespace
} // namespace talvora
