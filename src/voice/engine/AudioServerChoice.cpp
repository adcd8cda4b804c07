#include "voice/engine/AudioServerChoice.h"

#include "voice/engine/PipeWireDevices.h"
#include "voice/engine/PulseAudioDevices.h"

#include <cstdlib>

namespace talvora::voice {

std::optional<AudioServer> parseAudioServer(std::string_view text, bool& understood) {
    understood = true;
    if (text == "pulse") {
        return AudioServer::PulseAudio;
    }
    if (text == "pipewire") {
        return AudioServer::PipeWire;
    }
    understood = text.empty();
    return std::nullopt;
}

AudioServer chooseAudioServer(std::optional<AudioServer> forced, const AudioServerFacts& facts) {
    if (forced) {
        return *forced;
    }
    if (!facts.pipewireAnswers) {
        return AudioServer::PulseAudio;
    }
    if (facts.pulseServerName && facts.pulseServerName->find("PipeWire") == std::string::npos) {
        return AudioServer::PulseAudio;
    }
    return AudioServer::PipeWire;
}

std::unique_ptr<AudioBackend> makeAudioBackend(const Clock& clock, std::string* said) {
    const char* variable = std::getenv(kAudioServerVariable);
    const std::string_view text = variable != nullptr ? variable : "";
    bool understood = true;
    const std::optional<AudioServer> forced = parseAudioServer(text, understood);
    std::string why = understood ? std::string()
                                 : std::string(kAudioServerVariable) + "=" + std::string(text) +
                                       " is neither pulse nor pipewire and was ignored; ";

    AudioServerFacts facts;
    std::shared_ptr<PipeWireConnection> pipewire;
    if (!forced) {
        pipewire = PipeWireConnection::connect({}, kPipeWireTimeoutMs);
        facts.pipewireAnswers = pipewire != nullptr;
        if (facts.pipewireAnswers) {
            if (auto pulse = PulseConnection::connect("Talvora Video Phone", kPulseTimeoutMs)) {
                MainloopLock lock(pulse->mainloop());
                facts.pulseServerName = queryServerNameLocked(*pulse, kPulseTimeoutMs);
            }
        }
    }
    const AudioServer server = chooseAudioServer(forced, facts);
    if (forced) {
        why += "the sound server was chosen by " + std::string(kAudioServerVariable);
    } else if (!facts.pipewireAnswers) {
        why += "no PipeWire daemon answers";
    } else if (server == AudioServer::PulseAudio) {
        why +=
            "PipeWire runs beside a PulseAudio server (" + *facts.pulseServerName + "), which has the sound";
    } else {
        why += "PipeWire has the sound";
    }
    if (said != nullptr) {
        *said =
            (server == AudioServer::PipeWire ? "voice through PipeWire: " : "voice through PulseAudio: ") +
            why;
    }
    if (server == AudioServer::PipeWire) {
        return std::make_unique<PipeWireBackend>(&clock, std::string(), PipeWireTarget{}, PipeWireTarget{},
                                                 std::move(pipewire));
    }
    return std::make_unique<PulseAudioBackend>(kDefaultSource, kDefaultSink, &clock);
}

} // namespace talvora::voice
