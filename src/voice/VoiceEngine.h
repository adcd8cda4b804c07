#pragma once

#include "base/NetworkConfig.h"
#include "voice/VoiceSession.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace talvora {

namespace voice {
class AudioBackend;
class Clock;
class MediaTerminal;
} // namespace voice

// The program's voice engine: owns the one media terminal of the process and makes the call
// session's voice sessions on it. The terminal is connected when the first call needs voice and
// then serves every later call. notice() carries the terminal's sentences for the status line.
class VoiceEngine final : public QObject {
    Q_OBJECT

public:
    // Opens the sound devices for the terminal, on the clock its threads read. May raise an
    // Error, which reaches whoever asked for a session; the next session tries again.
    using AudioFactory = std::function<std::unique_ptr<voice::AudioBackend>(const voice::Clock&)>;

    // The sound server's default devices through libpulse.
    static AudioFactory pulseAudio();
    // The default devices of the sound server the machine runs, through its own protocol
    // (voice::makeAudioBackend: PipeWire natively where it has the sound, else libpulse).
    static AudioFactory soundServer();

    explicit VoiceEngine(NetworkConfig network, AudioFactory audio = soundServer(),
                         QObject* parent = nullptr);
    ~VoiceEngine() override;

    VoiceSessionFactory& sessionFactory() { return *m_factory; }
    // The terminal, connecting it on first use; may raise an Error.
    std::shared_ptr<voice::MediaTerminal> terminal();
    bool connected() const { return m_terminal != nullptr; }

signals:
    void notice(const QString& text);

private:
    class SessionFactory;

    const NetworkConfig m_network;
    const AudioFactory m_audio;
    std::shared_ptr<voice::MediaTerminal> m_terminal;
    std::unique_ptr<VoiceSessionFactory> m_factory; // a SessionFactory
};

} // namespace talvora
