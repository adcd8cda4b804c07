#include "ui/VoiceEngineWindow.h"

#include "base/NetworkConfig.h"
#include "voice/engine/MediaTerminal.h"
#include "voice/engine/PulseAudioDevices.h"

#include <mutex>

namespace talvora {

namespace {

// Argument values the session passes; MediaTerminal.h says what they mean to our engine.
constexpr int kOpus = 4;
constexpr int kFrameMs = 20;
constexpr int kDefaultDevice = 0;
constexpr int kEchoCancellationOn = 1;
constexpr int kNoiseSuppressionOn = 1;
constexpr int kLiveDevice = 0;
constexpr int kChannel = 0;
constexpr int kStartLevel = 80;

// The process's running terminal. A second host attaches to it instead of creating another:
// two engines in one process would fight over the voice port and the sound devices.
std::mutex runningMutex;
std::weak_ptr<voice::MediaTerminal> runningTerminal; // guarded by runningMutex

} // namespace

VoiceEngineWindow* frmCCN = nullptr;

TVOIPMedia::TVOIPMedia(TCCNMediaTerm& ccn) {
    FTransmit = ccn.DefaultInterface();
    FReceive = ccn.DefaultInterface();
    FTransmit->Initialize();
    FReceive->Initialize();
}

TVOIPMedia::~TVOIPMedia() {
    FTransmit->StopReceive();
    FTransmit->StopTransmit();
    FReceive->StopReceive();
    FReceive->StopTransmit();
    FTransmit->Uninitialize();
    FReceive->Uninitialize();
}

void TVOIPMedia::SetTransmitPort(int port) {
    FTransmitPort = port;
}
void TVOIPMedia::SetReceivePort(int port) {
    FReceivePort = port;
}
void TVOIPMedia::SetRemoteAddress(const QString& address) {
    FRemoteAddress = address;
}

void TVOIPMedia::OpenStreams() {
    FTransmit->OpenTransmit(kOpus, kFrameMs, kDefaultDevice, kEchoCancellationOn, kNoiseSuppressionOn, 0);
    FTransmit->SetTransmitDestination(FRemoteAddress, FTransmitPort);
    FReceive->OpenReceive(kOpus, kFrameMs, kDefaultDevice, 0);
    FReceive->BindReceivePort(FReceivePort);
}

void TVOIPMedia::Start() {
    OpenStreams();
    FReceive->StartReceive(kLiveDevice);
    FTransmit->StartTransmit(kLiveDevice);
    FReceive->SetReceiveLevel(kChannel, kStartLevel);
    FTransmit->SetTransmitLevel(kChannel, kStartLevel);
}

void TVOIPMedia::Stop() {
    FReceive->StopReceive();
    FTransmit->StopTransmit();
}

void TVOIPMedia::SetMicLevel(int level) {
    FTransmit->SetTransmitLevel(kChannel, level);
}

std::unique_ptr<VoiceSession> TVOIPMediaFactory::create() {
    return std::make_unique<TVOIPMedia>(m_ccn);
}

VoiceEngineWindow::VoiceEngineWindow(NetworkConfig network, QWidget* parent)
    : QWidget(parent), m_network(std::move(network)), m_ccn([this] { return connectTerminal(); }),
      m_factory(m_ccn) {
    setObjectName(QStringLiteral("frmCCN"));
    setWindowTitle(QStringLiteral("CCN"));
    resize(158, 141);
}

VoiceEngineWindow::~VoiceEngineWindow() = default;

std::shared_ptr<ICCNMediaTerm> VoiceEngineWindow::connectTerminal() {
    std::lock_guard lock(runningMutex);
    std::shared_ptr<voice::MediaTerminal> terminal = runningTerminal.lock();
    if (!terminal) {
        // The engine and the clock its threads read live and die together, whenever the last
        // reference goes (a call still running at exit keeps both to the very end).
        struct Engine {
            explicit Engine(const NetworkConfig& network)
                : terminal(network, std::make_unique<voice::PulseAudioBackend>(), clock) {}
            voice::SteadyClock clock;
            voice::MediaTerminal terminal;
        };
        auto engine = std::make_shared<Engine>(m_network);
        terminal = std::shared_ptr<voice::MediaTerminal>(engine, &engine->terminal);
        runningTerminal = terminal;
    }
    connect(terminal.get(), &voice::MediaTerminal::notice, this, &VoiceEngineWindow::notice, Qt::UniqueConnection);
    return terminal;
}

} // namespace talvora
