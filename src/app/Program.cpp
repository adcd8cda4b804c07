#include "app/Program.h"

#include "call/CallSession.h"
#include "ui/CallingDialog.h"
#include "ui/AddressBookDialog.h"
#include "ui/DiscoveryDialog.h"
#include "ui/SearchProgressWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/MainWindow.h"
#include "ui/QtMessageService.h"
#include "capture/CaptureBackendFactory.h"
#include "convert/FrameBuffers.h"
#include "capture/TestCameraOption.h"
#include "ui/CaptureController.h"
#include "ui/VideoOptionsDialog.h"
#include "voice/PulseSpeakerVolume.h"
#include "ui/VoiceEngineWindow.h"

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
    m_videoCap = std::make_unique<CaptureController>([testCamera] { return makeCaptureBackend(testCamera); });
    m_frames = std::make_unique<FrameBuffers>(*m_messages);
    m_main = std::make_unique<MainWindow>(
        MainWindowContext{*m_messages, ConfigLocation(options.configDir, programDir), options.network,
                          *m_videoCap, *m_frames, *m_speaker});
    m_messages->setParent(m_main.get());
    m_windows << m_main.get();

    auto add = [this](std::unique_ptr<QWidget> w) {
        QWidget* raw = w.get();
        m_windows << raw;
        m_owned.push_back(std::move(w));
        return raw;
    };
    auto* calling = static_cast<CallingDialog*>(add(std::make_unique<CallingDialog>(m_main.get())));
    m_main->attachCallSession(*calling, *m_voiceProxy);
    QWidget* addressBook = add(std::make_unique<AddressBookDialog>(m_main.get()));
    add(std::make_unique<DiscoveryDialog>(m_main.get()));
    add(std::make_unique<SearchProgressWindow>(m_main.get()));
    auto* settings = static_cast<SettingsDialog*>(add(std::make_unique<SettingsDialog>(
        fieldsOf(m_main->callSession().settings()),
        ConfigLocation(options.configDir, programDir).settingsPath(), *m_messages, m_main.get())));
    auto videoOptions = std::make_unique<VideoOptionsDialog>(*m_videoCap, m_main.get());
    videoOptions->setReadCaptureFormat([this] { m_frames->ReadCaptureFormat(*m_videoCap); });
    settings->setVideoOptionsDialog(videoOptions.get());
    add(std::move(videoOptions));
    auto* ccn = static_cast<VoiceEngineWindow*>(add(std::make_unique<VoiceEngineWindow>(options.network)));
    frmCCN = ccn;
    m_voiceProxy->target = &ccn->voiceSessionFactory();
    QObject::connect(ccn, &VoiceEngineWindow::notice, m_main.get(), &MainWindow::showStatusText);
    m_main->attachDialogs(addressBook, settings);
}

Program::~Program() {
    // The dialogs are children of the main window for their placement; release them first. A
    // voice session still running when the program closes ends with the engine's host.
    m_main->detachCallSession();
    frmCCN = nullptr;
    m_owned.clear();
    m_main.reset();
}

} // namespace talvora
