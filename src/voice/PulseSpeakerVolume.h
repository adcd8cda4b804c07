#pragma once

#include "voice/SpeakerVolume.h"

#include <cstdint>
#include <memory>

namespace talvora {

namespace voice {
class PulseConnection;
}

// 0..65535 onto the sound server's 0..PA_VOLUME_NORM (100 %) and back; server volumes above
// 100 % read as 65535.
std::uint32_t speakerToPulseVolume(quint16 volume);
quint16 pulseToSpeakerVolume(std::uint32_t pulseVolume);

// The volume of the sound server's default output. Calls block their thread for at most
// `timeoutMs` (the connection has its own event thread); after a failure the next call connects
// anew, so a server started later is found. Left channels (front, rear, side left) take the left
// value, right channels the right one, any others (mono, centre, LFE) the louder of the two;
// reading reports the first left channel (or the only one) and the first right channel.
class PulseSpeakerVolume final : public SpeakerVolume {
public:
    explicit PulseSpeakerVolume(int timeoutMs = 1000);
    ~PulseSpeakerVolume() override;

    SpeakerVolumeReading GetSpeakerVolume() override;
    bool SetSpeakerVolume(quint32 packed) override;

private:
    std::shared_ptr<voice::PulseConnection> connection();

    int m_timeoutMs;
    std::shared_ptr<voice::PulseConnection> m_connection;
};

} // namespace talvora
