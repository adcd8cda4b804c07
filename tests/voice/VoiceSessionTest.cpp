#include "FakeAudio.h"
#include "ImpairmentRelay.h"
#include "base/Error.h"
#include "support/EventLoop.h"
#include "ui/VoiceEngineWindow.h"
#include "voice/VoiceEngine.h"
#include "voice/engine/MediaTerminal.h"
#include "voice/engine/Rtp.h"
#include "voice/engine/UdpSocket.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <array>

namespace talvora {
namespace {

using voice::test::loopback;

// The production engine on this side's loopback address (127.0.0.2) with in-memory devices;
// counts how often it connects its terminal.
struct Fixture {
    explicit Fixture(voice::FakeAudioBackend::Config audio = {}) : audio(std::move(audio)) {}

    static NetworkConfig network() {
        NetworkConfig n;
        n.bindAddress = QHostAddress("127.0.0.2");
        return n;
    }

    voice::FakeAudioBackend::Config audio;
    int connects = 0;
    VoiceEngine engine{network(), [this](const voice::Clock& clock) {
                           ++connects;
                           return std::make_unique<voice::FakeAudioBackend>(clock, audio);
                       }};
};

// Waits for one datagram on `socket`; false when none came within a few seconds.
bool receiveOne(voice::UdpSocket& socket, voice::UdpSocket::Received& received,
                std::array<std::uint8_t, voice::kMaxRtpDatagramBytes>& buffer) {
    received = socket.receive(buffer, 5000);
    return received.arrived;
}

TEST(CallVoice, DrivesTheTerminalThroughACall) {
    Fixture f;
    EXPECT_FALSE(f.engine.connected()) << "the terminal connects on first use, not before";
    auto peer = voice::UdpSocket::bind(loopback(3), 8500);
    ASSERT_TRUE(peer);
    {
        auto session = f.engine.sessionFactory().create();
        ASSERT_TRUE(f.engine.connected());
        const auto terminal = f.engine.terminal();
        session->setTransmitPort(8500);
        session->setReceivePort(8500);
        session->setRemoteAddress("127.0.0.3");
        EXPECT_FALSE(terminal->transmitting()) << "setters do not start anything";
        EXPECT_FALSE(terminal->receiving());

        session->start();
        EXPECT_TRUE(terminal->transmitting());
        EXPECT_TRUE(terminal->receiving());
        EXPECT_EQ(terminal->transmitOptions().codec, voice::Codec::Opus);
        EXPECT_EQ(terminal->transmitOptions().frameMs, 10);
        EXPECT_TRUE(terminal->transmitOptions().echoCancellation);
        EXPECT_TRUE(terminal->transmitOptions().noiseSuppression);
        EXPECT_TRUE(terminal->transmitOptions().gainControl);
        EXPECT_EQ(terminal->transmitLevel(), 80);
        EXPECT_EQ(terminal->receiveLevel(), 80);

        // Voice goes to the remote address and transmit port, from the receive port.
        std::array<std::uint8_t, voice::kMaxRtpDatagramBytes> buffer{};
        voice::UdpSocket::Received received;
        ASSERT_TRUE(receiveOne(*peer, received, buffer));
        EXPECT_EQ(received.address, loopback(2));
        EXPECT_EQ(received.port, 8500);
        EXPECT_TRUE(voice::parseRtpPacket(std::span<const std::uint8_t>(buffer.data(), received.bytes)));
        // And the receive port listens: the peer's garbage is seen and refused.
        const std::array<std::uint8_t, 3> garbage{1, 2, 3};
        ASSERT_TRUE(peer->sendTo(garbage, loopback(2), 8500));
        EXPECT_TRUE(test::waitUntil([&] { return terminal->stats().refusedMalformed == 1; }));
        // The peer's voice with gaps: the session tells what the network lost of it.
        for (const std::uint16_t sequence : {10, 11, 13, 14, 17}) {
            voice::RtpHeader header;
            header.sequence = sequence;
            header.ssrc = 0xCA11;
            const std::array<std::uint8_t, 3> payload{0xF8, 0xFF, 0xFE}; // an Opus silence frame
            std::array<std::uint8_t, 64> datagram{};
            const std::size_t size = voice::writeRtpPacket(header, payload, datagram);
            ASSERT_TRUE(peer->sendTo(std::span(datagram).first(size), loopback(2), 8500));
        }
        EXPECT_TRUE(test::waitUntil([&] { return session->networkStats().heard == 5; }));
        const VoiceNetworkStats network = session->networkStats();
        EXPECT_EQ(network.expected, 8u);
        EXPECT_EQ(network.lost, 3u);

        for (const int level : {0, 100, 37}) {
            session->setMicLevel(level);
            EXPECT_EQ(terminal->transmitLevel(), level);
            EXPECT_EQ(terminal->receiveLevel(), 80) << "the microphone slider is not the speaker's";
        }

        session->stop();
        EXPECT_FALSE(terminal->transmitting());
        EXPECT_FALSE(terminal->receiving());
    }
    EXPECT_TRUE(voice::UdpSocket::bind(loopback(2), 8500)) << "the call's end released the voice port";
}

TEST(CallVoice, NeverStartedSessionEndsItsCallToo) {
    Fixture f;
    const auto terminal = f.engine.terminal();
    EXPECT_FALSE(terminal->setTransmitLevel(10)) << "no call yet";
    {
        auto session = f.engine.sessionFactory().create();
        session->setRemoteAddress("peer");
        EXPECT_TRUE(terminal->setTransmitLevel(10)) << "the session began a call";
        session->stop();
        EXPECT_FALSE(terminal->transmitting());
    }
    EXPECT_FALSE(terminal->setTransmitLevel(10)) << "destroying the session ended the call";
}

TEST(CallVoice, SessionsShareOneTerminalAcrossCalls) {
    Fixture f;
    voice::MediaTerminal* first = nullptr;
    for (int call = 0; call < 3; ++call) {
        auto session = f.engine.sessionFactory().create();
        EXPECT_EQ(f.engine.terminal()->transmitLevel(), 80) << "call " << call << " starts at unity";
        session->setTransmitPort(8500);
        session->setReceivePort(8500);
        session->setRemoteAddress("127.0.0.3");
        session->start();
        session->setMicLevel(10);
        session->stop();
        if (first == nullptr) {
            first = f.engine.terminal().get();
        }
        EXPECT_EQ(f.engine.terminal().get(), first);
    }
    EXPECT_EQ(f.connects, 1);
}

TEST(CallVoice, ConnectionFailureReachesTheCallerAndNoSessionExists) {
    int attempts = 0;
    VoiceEngine engine(NetworkConfig{}, [&](const voice::Clock&) -> std::unique_ptr<voice::AudioBackend> {
        ++attempts;
        throw Error("The voice engine is not available");
    });
    try {
        engine.sessionFactory().create();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.text(), "The voice engine is not available");
    }
    EXPECT_FALSE(engine.connected());
    EXPECT_THROW(engine.sessionFactory().create(), Error);
    EXPECT_EQ(attempts, 2) << "a failed connection is tried again next time";
}

TEST(CallVoice, TheTerminalsNoticesComeFromTheEngine) {
    Fixture f({.sourceProblem = voice::AudioProblem::NoServer, .sinkProblem = voice::AudioProblem::NoServer});
    QStringList notices;
    QObject::connect(&f.engine, &VoiceEngine::notice, [&](const QString& text) { notices << text; });
    auto session = f.engine.sessionFactory().create();
    session->setTransmitPort(8500);
    session->setReceivePort(8500);
    session->setRemoteAddress("127.0.0.3");
    session->start();
    test::waitUntil([&] { return !notices.isEmpty(); }, 2000);
    test::pumpEvents(30);
    EXPECT_EQ(notices, QStringList{"No sound server is running: this call has no sound."});
}

TEST(CallVoice, ACallStillRunningWhenTheEngineGoesKeepsItsTerminal) {
    auto f = std::make_unique<Fixture>();
    auto session = f->engine.sessionFactory().create();
    session->setTransmitPort(8500);
    session->setReceivePort(8500);
    session->setRemoteAddress("127.0.0.3");
    session->start();
    const std::weak_ptr<voice::MediaTerminal> terminal = f->engine.terminal();
    f.reset();
    ASSERT_FALSE(terminal.expired());
    EXPECT_TRUE(terminal.lock()->transmitting());
    session->setMicLevel(50);
    EXPECT_EQ(terminal.lock()->transmitLevel(), 50);
    session->stop();
    session.reset();
    EXPECT_TRUE(terminal.expired()) << "the last call's end releases the terminal";
}

TEST(VoiceEngineWindow, IsAnEmptyHiddenWindow) {
    VoiceEngineWindow window;
    EXPECT_EQ(window.objectName(), "frmCCN");
    EXPECT_EQ(window.windowTitle(), "CCN");
    EXPECT_EQ(window.size(), QSize(158, 141));
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.children().isEmpty());
}

} // namespace
} // namespace talvora
