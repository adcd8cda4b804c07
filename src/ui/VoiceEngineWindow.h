#pragma once

#include "base/NetworkConfig.h"
#include "voice/CCNMediaTerm.h"
#include "voice/VoiceSession.h"

#include <QString>
#include <QWidget>

#include <memory>

namespace talvora {

// The voice of one call: wraps the media terminal for that call. Two references to the one
// terminal, one per direction; created stopped, started once, stopped once, then destroyed.
// The terminal's results are ignored: a call that fails is not noticed here (the terminal tells
// the user through its notices).
class TVOIPMedia final : public VoiceSession {
public:
    // Create: may raise the Error of connecting the terminal; no session exists then.
    explicit TVOIPMedia(TCCNMediaTerm& ccn);
    // Destroy: stops both directions through both references, uninitialises twice.
    ~TVOIPMedia() override;
    TVOIPMedia(const TVOIPMedia&) = delete;
    TVOIPMedia& operator=(const TVOIPMedia&) = delete;

    void SetTransmitPort(int port) override;
    void SetReceivePort(int port) override;
    void SetRemoteAddress(const QString& address) override;
    void Start() override;
    void Stop() override;
    void SetMicLevel(int level) override;

private:
    void OpenStreams();

    std::shared_ptr<ICCNMediaTerm> FTransmit;
    std::shared_ptr<ICCNMediaTerm> FReceive;
    qint32 FTransmitPort = 0;
    qint32 FReceivePort = 0;
    QString FRemoteAddress;
};

// Makes the call session's voice sessions on the host's terminal.
class TVOIPMediaFactory final : public VoiceSessionFactory {
public:
    explicit TVOIPMediaFactory(TCCNMediaTerm& ccn) : m_ccn(ccn) {}
    std::unique_ptr<VoiceSession> create() override;

private:
    TCCNMediaTerm& m_ccn;
};

// The hidden host of the media terminal: caption "CCN", 158 by 141, never shown. Created last of
// the program's windows; it owns the terminal component `ccn`, which connects when the first call
// needs voice. Its notice() carries the terminal's status-line messages.
class VoiceEngineWindow : public QWidget {
    Q_OBJECT

public:
    explicit VoiceEngineWindow(NetworkConfig network = {}, QWidget* parent = nullptr);
    ~VoiceEngineWindow() override;

    TCCNMediaTerm& ccn() { return m_ccn; }
    VoiceSessionFactory& voiceSessionFactory() { return m_factory; }

signals:
    void notice(const QString& text);

private:
    std::shared_ptr<ICCNMediaTerm> connectTerminal();

    NetworkConfig m_network;
    TCCNMediaTerm m_ccn;
    TVOIPMediaFactory m_factory;
};

// The program-wide reference to the host, set by the program entry.
extern VoiceEngineWindow* frmCCN;

} // namespace talvora
