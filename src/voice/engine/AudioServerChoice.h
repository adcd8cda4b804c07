#pragma once

#include "voice/engine/AudioDevice.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace talvora::voice {

class Clock;

// Which sound server's own protocol the engine speaks.
enum class AudioServer {
    PulseAudio, // libpulse: PulseAudio, or PipeWire's PulseAudio service
    PipeWire,   // libpipewire: PipeWire's data thread hands us every quantum itself
};

// The environment variable that settles the choice for users and tests: "pulse" or "pipewire".
inline constexpr const char* kAudioServerVariable = "TALVORA_AUDIO";

// What the variable says: a server, or nothing (unset or empty) for the choice below. Any other
// text is not understood: `understood` is false and the choice is made as without it.
std::optional<AudioServer> parseAudioServer(std::string_view text, bool& understood);

// What the machine offers. `pulseServerName`: the name the PulseAudio server gives, when one
// answers.
struct AudioServerFacts {
    bool pipewireAnswers = false;
    std::optional<std::string> pulseServerName;
};

// Whom to speak to: the forced one if any; else PipeWire natively when its daemon answers and
// the sound is its own (no PulseAudio server, or PipeWire's PulseAudio service); else PulseAudio.
// A PipeWire daemon beside a PulseAudio one of its own serves only screens and cameras.
AudioServer chooseAudioServer(std::optional<AudioServer> forced, const AudioServerFacts& facts);

// The back end for the session's default devices: reads kAudioServerVariable, asks the machine
// (a PipeWire daemon within kPipeWireTimeoutMs; the PulseAudio server's name only when PipeWire
// answered) and makes the chosen back end; `said`, when given, receives why in a sentence for the
// log. Runs on the calling thread and may wait for the servers' time-outs.
std::unique_ptr<AudioBackend> makeAudioBackend(const Clock& clock, std::string* said = nullptr);

} // namespace talvora::voice
