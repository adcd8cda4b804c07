#include "voice/VoiceEngine.h"

#include "base/Clock.h"
#include "voice/CallVoice.h"
#include "voice/engine/AudioServerChoice.h"
#include "voice/engine/MediaTerminal.h"
#include "voice/engine/PulseAudioDevices.h"

namespace talvora {

class VoiceEngine::SessionFactory final : public VoiceSessionFactory {
public:
    explicit SessionFactory(VoiceEngine& engine) : m_engine(engine) {}
    std::unique_ptr<VoiceSession> create() override {
        return std::make_unique<CallVoice>(m_engine.terminal());
    }
    void setNoticeHandler(std::function<void(const QString&)> handler) override {
        QObject::disconnect(m_notices);
        if (handler) {
            m_notices = QObject::connect(&m_engine, &VoiceEngine::notice, &m_engine, std::move(handler));
        }
    }

private:
    VoiceEngine& m_engine;
    QMetaObject::Connection m_notices;
};

VoiceEngine::AudioFactory VoiceEngine::pulseAudio() {
    return [](const voice::Clock& clock) {
        return std::make_unique<voice::PulseAudioBackend>(voice::kDefaultSource, voice::kDefaultSink, &clock);
    };
}

VoiceEngine::AudioFactory VoiceEngine::soundServer() {
    return [](const voice::Clock& clock) {
        std::string said;
        auto backend = voice::makeAudioBackend(clock, &said);
        qInfo("Voice: %s", said.c_str());
        return backend;
    };
}

VoiceEngine::VoiceEngine(NetworkConfig network, AudioFactory audio, QObject* parent)
    : QObject(parent), m_network(std::move(network)), m_audio(std::move(audio)),
      m_factory(std::make_unique<SessionFactory>(*this)) {}

VoiceEngine::~VoiceEngine() = default;

std::shared_ptr<voice::MediaTerminal> VoiceEngine::terminal() {
    if (m_terminal) {
        return m_terminal;
    }
    // The terminal and the clock its threads read live and die together, whenever the last
    // reference goes: a call still running when the engine goes keeps both to its end.
    struct Running {
        Running(const NetworkConfig& network, const AudioFactory& audio)
            : terminal(network, audio(clock), clock) {}
        voice::SteadyClock clock;
        voice::MediaTerminal terminal;
    };
    auto running = std::make_shared<Running>(m_network, m_audio);
    m_terminal = std::shared_ptr<voice::MediaTerminal>(running, &running->terminal);
    connect(m_terminal.get(), &voice::MediaTerminal::notice, this, &VoiceEngine::notice);
    return m_terminal;
}

} // namespace talvora
