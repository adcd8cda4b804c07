#pragma once

#include "voice/VoiceSession.h"

#include <functional>
#include <memory>

namespace talvora {

// Makes voice sessions whose microphone starts at the level the microphone slider shows. The
// engine itself starts every call at level 80; a user who muted before the call (slider at 0)
// would otherwise be on the air at full level behind a slider that says 0. Each session gets the
// guard of its call's voice from `guards` (when set) before it can start.
class SliderLevelVoiceFactory final : public VoiceSessionFactory {
public:
    SliderLevelVoiceFactory(VoiceSessionFactory& engine, std::function<int()> sliderLevel,
                            std::function<std::shared_ptr<DatagramGuard>()> guards = {})
        : m_engine(engine), m_sliderLevel(std::move(sliderLevel)), m_guards(std::move(guards)) {}

    std::unique_ptr<VoiceSession> create() override;
    void setNoticeHandler(std::function<void(const QString&)> handler) override {
        m_engine.setNoticeHandler(std::move(handler));
    }

private:
    VoiceSessionFactory& m_engine;
    std::function<int()> m_sliderLevel;
    std::function<std::shared_ptr<DatagramGuard>()> m_guards;
};

} // namespace talvora
