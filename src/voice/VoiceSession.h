#pragma once

#include "base/DatagramGuard.h"

#include <QString>

#include <functional>
#include <memory>

namespace talvora {

// What the network did to the peer's voice in this call, as RTCP receiver reports count it:
// RTP packets heard, packets expected from the range of sequence numbers seen, and those lost in
// its gaps (expected minus heard, never below 0). Voice packets are never fragmented, so their
// loss is the path's loss.
struct VoiceNetworkStats {
    quint64 heard = 0;
    quint64 expected = 0;
    quint64 lost = 0;
};

// The voice of one call in both directions, as the call session uses it: configure, start once,
// setMicLevel any number of times, stop; destroying the object ends the call on the engine
// (stopping both directions if they still run). Operations run on the main thread.
class VoiceSession {
public:
    virtual ~VoiceSession() = default;

    virtual void setTransmitPort(int port) = 0;
    virtual void setReceivePort(int port) = 0;
    virtual void setRemoteAddress(const QString& address) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    // level 0..100 from the microphone slider; 0 is silence.
    virtual void setMicLevel(int level) = 0;
    // Voice packets accepted from the peer so far: a count that stops growing tells that the
    // peer went quiet (or away).
    virtual quint64 packetsHeard() const { return 0; }
    // Current to the last packet; cheap, and never waits for the voice threads.
    virtual VoiceNetworkStats networkStats() const { return {}; }
    // The local address the call's signalling came to; voice leaves from it (before start).
    virtual void setLocalAddress(const QString& address) { (void)address; }
    // What seals and opens this call's voice in a private call (before start); sessions that
    // send no voice over the network ignore it.
    virtual void setDatagramGuard(std::shared_ptr<DatagramGuard> guard) { (void)guard; }
};

// Makes voice sessions for the call session. Creating may raise an Error when the voice engine
// cannot be had.
class VoiceSessionFactory {
public:
    virtual ~VoiceSessionFactory() = default;
    virtual std::unique_ptr<VoiceSession> create() = 0;
    // Where the engine's sentences for the status line go (a device lost, back again), on the
    // main thread. Engines with nothing to say ignore it.
    virtual void setNoticeHandler(std::function<void(const QString& text)> handler) { (void)handler; }
};

} // namespace talvora
