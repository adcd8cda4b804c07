#pragma once

#include <QString>

#include <memory>

namespace talvora {

// The voice of one call in both directions, as the call session uses it: configure, Start once,
// SetMicLevel any number of times, Stop; destroying the object ends the call on the engine
// (stopping both directions if they still run). Operations run on the main thread.
class VoiceSession {
public:
    virtual ~VoiceSession() = default;

    virtual void SetTransmitPort(int port) = 0;
    virtual void SetReceivePort(int port) = 0;
    virtual void SetRemoteAddress(const QString& address) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // level 0..100 from the microphone slider; 0 is silence.
    virtual void SetMicLevel(int level) = 0;
};

// Makes voice sessions for the call session. Creating may raise an Error when the voice engine
// cannot be had.
class VoiceSessionFactory {
public:
    virtual ~VoiceSessionFactory() = default;
    virtual std::unique_ptr<VoiceSession> create() = 0;
};

} // namespace talvora
