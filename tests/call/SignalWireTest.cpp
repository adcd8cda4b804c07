#include "call/SignalWire.h"
#include "base/Error.h"
#include "base/HostResolver.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

TEST(ClassifySignal, Table) {
    struct Case {
        QByteArray payload;
        SignalKind kind;
        const char* callerId;
    } cases[] = {
        {"Calling|Bob", SignalKind::CallRequest, "Bob"},
        {"Calling|", SignalKind::CallRequest, ""},
        {"Calling", SignalKind::CallRequest, ""},
        {"Hello|World", SignalKind::CallRequest, "rld"}, // the prefix is not examined
        {"A|B", SignalKind::CallRequest, ""},
        {"|", SignalKind::CallRequest, ""},
        {"Calling|Zo\xc3\xab", SignalKind::CallRequest, "Zoë"},
        {"Calling|Zo\xeb", SignalKind::CallRequest, "Zoë"}, // a Windows peer's caller ID
        {"Accept", SignalKind::Accept, ""},
        {"Cancel", SignalKind::Cancel, ""},
        {"accept", SignalKind::StatusText, ""},
        {"Accept ", SignalKind::StatusText, ""},
        {"Accept\r\n", SignalKind::StatusText, ""},
        {"calling", SignalKind::StatusText, ""},
        {"Callin", SignalKind::StatusText, ""},
        {"Unanswered", SignalKind::StatusText, ""},
        {QByteArray("Accept\0", 7), SignalKind::StatusText, ""},
    };
    for (const auto& c : cases) {
        const Signal s = classifySignal(c.payload);
        EXPECT_EQ(s.kind, c.kind) << c.payload.toStdString();
        EXPECT_EQ(s.callerId, QString::fromUtf8(c.callerId)) << c.payload.toStdString();
    }
    EXPECT_EQ(classifySignal("Out to lunch").text, "Out to lunch");
}

TEST(SignalPayloads, BytesOnTheWire) {
    EXPECT_EQ(callRequestPayload("Bob"), "Calling|Bob");
    EXPECT_EQ(callRequestPayload(""), "Calling|");
    EXPECT_EQ(callRequestPayload(QString::fromUtf8("Zoë")), "Calling|Zo\xc3\xab");
    EXPECT_EQ(acceptPayload(), "Accept");
    EXPECT_EQ(cancelPayload(), "Cancel");
    EXPECT_EQ(statusTextPayload("Unanswered"), "Unanswered");
}

TEST(ResolveIPv4, LocalhostDottedAndFailures) {
    EXPECT_EQ(resolveIPv4("LOCALHOST").toString(), "127.0.0.1");
    EXPECT_EQ(resolveIPv4("LocalHost").toString(), "127.0.0.1");
    EXPECT_EQ(resolveIPv4("192.0.2.9").toString(), "192.0.2.9");
    EXPECT_THROW(resolveIPv4("no-such-host.invalid"), Error);
    EXPECT_THROW(resolveIPv4(""), Error);
    EXPECT_THROW(resolveIPv4("Hailing Frequency..."), Error);
}

} // namespace
} // namespace talvora
