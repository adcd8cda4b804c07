#include "call/SignalEndpoint.h"
#include "base/Error.h"

#include <QUdpSocket>

#include <gtest/gtest.h>

#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"

namespace talvora {
namespace {

using test::waitUntil;

struct Received {
    QString kind, value, sender;
};

class RecordingHandler : public SignalHandler {
public:
    QList<Received> got;
    bool throwOnStatus = false;
    void callRequestReceived(const QString& id, const QString& s) override { got.append({"call", id, s}); }
    void acceptReceived(const QString& s) override { got.append({"accept", "", s}); }
    void cancelReceived(const QString& s) override { got.append({"cancel", "", s}); }
    void statusTextReceived(const QString& t) override {
        got.append({"status", t, ""});
        if (throwOnStatus) {
            throw Error("Ring tone device busy");
        }
    }
};

NetworkConfig boundTo(const char* address) {
    return NetworkConfig{QHostAddress(QString(address))};
}

TEST(SignalEndpoint, TwoPhonesExchangeDatagramsAndRepliesComeBackToTheBoundAddress) {
    test::FakeMessageService messages;
    RecordingHandler handlerA, handlerB;
    SignalEndpoint a(boundTo("127.0.0.2"), messages), b(boundTo("127.0.0.3"), messages);
    a.setHandler(&handlerA);
    b.setHandler(&handlerB);
    a.open();
    b.open();

    a.send("127.0.0.3", "Calling|Ann");
    ASSERT_TRUE(waitUntil([&] { return handlerB.got.size() == 1; }));
    EXPECT_EQ(handlerB.got[0].kind, "call");
    EXPECT_EQ(handlerB.got[0].value, "Ann");
    EXPECT_EQ(handlerB.got[0].sender, "127.0.0.2");

    // The reply goes to port 6767 of the sender's address.
    b.send(handlerB.got[0].sender, "Accept");
    b.send("127.0.0.2", "Unanswered");
    ASSERT_TRUE(waitUntil([&] { return handlerA.got.size() == 2; }));
    EXPECT_EQ(handlerA.got[0].kind, "accept");
    EXPECT_EQ(handlerA.got[0].sender, "127.0.0.3");
    EXPECT_EQ(handlerA.got[1].kind, "status");
    EXPECT_EQ(handlerA.got[1].value, "Unanswered");
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST(SignalEndpoint, TakenPortRaisesTheBindMessage) {
    test::FakeMessageService messages;
    SignalEndpoint first(boundTo("127.0.0.4"), messages), second(boundTo("127.0.0.4"), messages);
    first.open();
    first.open(); // opening an open receiver does nothing
    try {
        second.open();
        FAIL() << "second endpoint bound a taken port";
    } catch (const Error& e) {
        EXPECT_EQ(e.text(), "Could not bind socket. Address and port are already in use.");
    }
    // Every local address conflicts with one bound address, as for a second copy of the phone.
    SignalEndpoint any(NetworkConfig{}, messages);
    EXPECT_THROW(any.open(), Error);
}

TEST(SignalEndpoint, EmptyAndOversizeDatagramsAreDroppedAndErrorsDoNotStopReceiving) {
    test::FakeMessageService messages;
    RecordingHandler handler;
    handler.throwOnStatus = true;
    SignalEndpoint endpoint(boundTo("127.0.0.5"), messages);
    endpoint.setHandler(&handler);
    endpoint.open();

    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.6"), 0));
    const QHostAddress to("127.0.0.5");
    stranger.writeDatagram(QByteArray(), to, kSignalPort);
    stranger.writeDatagram(QByteArray(8193, 'x'), to, kSignalPort);
    stranger.writeDatagram("Busy", to, kSignalPort);
    stranger.writeDatagram(QByteArray(8192, '|'), to, kSignalPort);
    stranger.writeDatagram("Cancel", to, kSignalPort);

    ASSERT_TRUE(waitUntil([&] { return handler.got.size() == 3; }));
    EXPECT_EQ(handler.got[0].kind, "status");
    EXPECT_EQ(handler.got[1].kind, "call");
    EXPECT_EQ(handler.got[1].value.size(), 8184);
    EXPECT_EQ(handler.got[2].kind, "cancel");
    EXPECT_EQ(handler.got[2].sender, "127.0.0.6");
    // The error left the reaction and reached the standard error box, with its full stop.
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].caption, "Talvora Video Phone");
    EXPECT_EQ(messages.boxes[0].text, "Ring tone device busy.");
}

TEST(SignalEndpoint, UnresolvableHostRaisesTheResolverText) {
    test::FakeMessageService messages;
    SignalEndpoint endpoint(boundTo("127.0.0.7"), messages);
    try {
        endpoint.send("no-such-host.invalid", "Calling|x");
        FAIL();
    } catch (const Error& e) {
        EXPECT_FALSE(e.text().isEmpty());
    }
}

// Qt switches SO_BROADCAST on for its sockets; a call to a broadcast address must fail instead
// of ringing every phone on the segment (127.255.255.255 is the loopback net's broadcast).
TEST(SignalEndpoint, BroadcastAddressesAreRefused) {
    test::FakeMessageService messages;
    for (const NetworkConfig& network : {boundTo("127.0.0.7"), NetworkConfig{}}) {
        SignalEndpoint endpoint(network, messages);
        EXPECT_THROW(endpoint.send("127.255.255.255", "Calling|x"), Error);
        EXPECT_NO_THROW(endpoint.send("127.0.0.8", "Calling|x"));
    }
}

} // namespace
} // namespace talvora
