#include "app/Program.h"

#include "call/MediaRingTonePlayer.h"
#include "call/RingTimer.h"
#include "capture/CaptureBackendFactory.h"
#include "capture/TestCameraOption.h"
#include "phone/Phone.h"
#include "ui/MainWindow.h"
#include "ui/PhoneAssembly.h"
#include "ui/QtMessageService.h"
#include "ui/VoiceEngineWindow.h"
#include "voice/PulseSpeakerVolume.h"

namespace talvora {

// The voice engine's host is the last window created, after the call session that needs its
// factory; calls reach the host's factory through this once it exists.
class Program::VoiceFactoryProxy final : public VoiceSessionFactory {
public:
    VoiceSessionFactory* target = nullptr;
    std::unique_ptr<VoiceSession> create() override {
        if (target == nullptr) {
            throw Error(QStringLiteral("The voice engine is not available."));
        }
        return target->create();
    }
};

Program::Program(const CommandLine& options, const QString& programDir)
    : m_messages(std::make_unique<QtMessageService>()), m_speaker(std::make_unique<PulseSpeakerVolume>()),
      m_voiceProxy(std::make_unique<VoiceFactoryProxy>()) {
    std::optional<TestCameraConfig> testCamera;
    if (options.testCamera) {
        testCamera = parseTestCameraOption(options.testCameraSpec);
    }
    m_assembly = std::make_unique<PhoneAssembly>(PhoneServices{
        *m_messages,
        *m_speaker,
        [testCamera] { return makeCaptureBackend(testCamera); },
        *m_voiceProxy,
        [] { return std::make_unique<MediaRingTonePlayer>(); },
        [] { return std::make_unique<QtRingTimer>(); },
        options.network,
        ConfigLocation(options.configDir, programDir),
    });
    m_messages->setParent(&m_assembly->mainWindow());

    auto* ccn = static_cast<VoiceEngineWindow*>(
        &m_assembly->addWindow(std::make_unique<VoiceEngineWindow>(options.network)));
    frmCCN = ccn;
    m_voiceProxy->target = &ccn->voiceSessionFactory();
    QObject::connect(ccn, &VoiceEngineWindow::notice, &m_assembly->phone(), &Phone::showNotice);
}

Program::~Program() {
    // A voice session still running when the program closes ends before the engine's host.
    m_assembly->phone().detachCallSession();
    frmCCN = nullptr;
    m_assembly.reset();
}

Phone& Program::phone() {
    return m_assembly->phone();
}

MainWindow& Program::mainWindow() {
    return m_assembly->mainWindow();
}

QList<QWidget*> Program::windowsInCreationOrder() const {
    return m_assembly->windowsInCreationOrder();
}

} // namespace talvora
