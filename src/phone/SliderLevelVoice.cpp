#include "phone/SliderLevelVoice.h"

namespace talvora {

namespace {

class SliderLevelVoiceSession final : public VoiceSession {
public:
    SliderLevelVoiceSession(std::unique_ptr<VoiceSession> inner, const std::function<int()>& sliderLevel)
        : m_inner(std::move(inner)), m_sliderLevel(sliderLevel) {}

    void SetTransmitPort(int port) override { m_inner->SetTransmitPort(port); }
    void SetReceivePort(int port) override { m_inner->SetReceivePort(port); }
    void SetRemoteAddress(const QString& address) override { m_inner->SetRemoteAddress(address); }
    void Start() override {
        m_inner->Start();
        m_inner->SetMicLevel(m_sliderLevel());
    }
    void Stop() override { m_inner->Stop(); }
    void SetMicLevel(int level) override { m_inner->SetMicLevel(level); }

private:
    std::unique_ptr<VoiceSession> m_inner;
    std::function<int()> m_sliderLevel;
};

} // namespace

std::unique_ptr<VoiceSession> SliderLevelVoiceFactory::create() {
    return std::make_unique<SliderLevelVoiceSession>(m_engine.create(), m_sliderLevel);
}

} // namespace talvora
