#include "phone/SliderLevelVoice.h"

namespace talvora {

namespace {

class SliderLevelVoiceSession final : public VoiceSession {
public:
    SliderLevelVoiceSession(std::unique_ptr<VoiceSession> inner, const std::function<int()>& sliderLevel)
        : m_inner(std::move(inner)), m_sliderLevel(sliderLevel) {}

    void setTransmitPort(int port) override { m_inner->setTransmitPort(port); }
    void setReceivePort(int port) override { m_inner->setReceivePort(port); }
    void setRemoteAddress(const QString& address) override { m_inner->setRemoteAddress(address); }
    void start() override {
        m_inner->start();
        m_inner->setMicLevel(m_sliderLevel());
    }
    void stop() override { m_inner->stop(); }
    void setMicLevel(int level) override { m_inner->setMicLevel(level); }
    quint64 packetsHeard() const override { return m_inner->packetsHeard(); }
    VoiceNetworkStats networkStats() const override { return m_inner->networkStats(); }
    void setDatagramGuard(std::shared_ptr<DatagramGuard> guard) override {
        m_inner->setDatagramGuard(std::move(guard));
    }
    void setLocalAddress(const QString& address) override { m_inner->setLocalAddress(address); }

private:
    std::unique_ptr<VoiceSession> m_inner;
    std::function<int()> m_sliderLevel;
};

} // namespace

std::unique_ptr<VoiceSession> SliderLevelVoiceFactory::create() {
    auto session = std::make_unique<SliderLevelVoiceSession>(m_engine.create(), m_sliderLevel);
    if (m_guards) {
        session->setDatagramGuard(m_guards());
    }
    return session;
}

} // namespace talvora
