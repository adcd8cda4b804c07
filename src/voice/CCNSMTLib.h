#pragma once

#include <QString>

#include <memory>

namespace talvora {

// The media terminal's interface: the operations the voice session calls, in the order they
// have always been numbered. Our engine (voice::MediaTerminal) implements it; MediaTerminal.h
// documents what the numeric arguments mean. Each returns true when the call was accepted; the
// voice session never looks, by design: a call that fails leaves the session carrying on.
class ICCNMediaTerm {
public:
    virtual ~ICCNMediaTerm() = default;

    virtual bool Initialize() = 0;
    virtual bool Uninitialize() = 0;
    virtual bool OpenReceive(int codec, int frameMs, int device, int options) = 0;
    virtual bool OpenTransmit(int codec, int frameMs, int device, int echoCancellation, int noiseSuppression,
                              int options) = 0;
    virtual bool SetTransmitDestination(const QString& address, int port) = 0;
    virtual bool BindReceivePort(int port) = 0;
    virtual bool StartTransmit(int source) = 0;
    virtual bool StopTransmit() = 0;
    virtual bool StartReceive(int sink) = 0;
    virtual bool StopReceive() = 0;
    virtual bool SetReceiveLevel(int channel, int level) = 0;
    virtual bool SetTransmitLevel(int channel, int level) = 0;
};

} // namespace talvora
