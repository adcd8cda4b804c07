#pragma once

#include "FakeAudio.h"
#include "voice/engine/MediaTerminal.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

namespace talvora::voice::test {

// The voice session's calls for a call to `peer`, both voice ports `port`, levels at unity.
inline void startVoice(MediaTerminal& t, const QString& peer, int port, const TransmitOptions& transmit) {
    t.beginCall();
    t.openTransmit(transmit);
    t.setTransmitDestination(peer, port);
    t.openReceive({});
    t.bindReceivePort(port);
    t.startReceive();
    t.startTransmit();
    t.setReceiveLevel(kUnityLevel);
    t.setTransmitLevel(kUnityLevel);
}

inline void stopVoice(MediaTerminal& t) {
    t.stopReceive();
    t.stopTransmit();
    t.endCall();
}

// One phone's voice engine with in-memory devices, bound to its own loopback address, driven
// with the same calls as the voice session makes.
class TestPhone {
public:
    TestPhone(const QString& bindAddress, FakeAudioBackend::Config audio) {
        auto backend = std::make_unique<FakeAudioBackend>(clock(), std::move(audio));
        m_recording = backend->recording();
        m_audio = backend.get();
        NetworkConfig network;
        network.bindAddress = QHostAddress(bindAddress);
        m_terminal = std::make_unique<MediaTerminal>(network, std::move(backend), clock());
        QObject::connect(m_terminal.get(), &MediaTerminal::notice, [this](const QString& text) {
            m_notices << text;
            if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
                ++m_noticesOffMainThread;
            }
        });
    }

    static const Clock& clock() {
        static SteadyClock steady;
        return steady;
    }

    // The voice session's calls for a call to `peer`, with echo cancellation, noise suppression
    // and gain control off unless asked, so that a test tone arrives as it was sent.
    void start(const QString& peer, bool echoCancellation = false, bool noiseSuppression = false,
               bool gainControl = false, int frameMs = kFrameDurationMs) {
        startVoice(*m_terminal, peer, 8500,
                   {.frameMs = frameMs,
                    .echoCancellation = echoCancellation,
                    .noiseSuppression = noiseSuppression,
                    .gainControl = gainControl});
    }

    void stop() { stopVoice(*m_terminal); }

    MediaTerminal& terminal() { return *m_terminal; }
    PlaybackRecording& recording() { return *m_recording; }
    const FakeAudioBackend& audio() const { return *m_audio; }
    const QStringList& notices() const { return m_notices; }
    // Notices delivered on another thread than the main thread (the terminal promises none).
    int noticesOffMainThread() const { return m_noticesOffMainThread; }

private:
    std::shared_ptr<PlaybackRecording> m_recording;
    FakeAudioBackend* m_audio = nullptr; // owned by the terminal
    std::unique_ptr<MediaTerminal> m_terminal;
    QStringList m_notices;
    int m_noticesOffMainThread = 0;
};

inline SignalFunction sine(double frequencyHz, double amplitude, int rateHz = 48000) {
    return [=](std::uint64_t i) {
        return static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * 3.14159265358979323846 * frequencyHz * double(i) / rateHz)));
    };
}

} // namespace talvora::voice::test
