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
#include "voice/VoiceEngine.h"
#include "ui/VoiceEngineWindow.h"

namespace talvora {

Program::Program(const CommandLine& options, const QString& programDir)
    : m_messages(std::make_unique<QtMessageService>()), m_speaker(std::make_unique<PulseSpeakerVolume>()),
      m_voice(std::make_unique<VoiceEngine>(options.network)) {
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
    QObject::connect(m_voice.get(), &VoiceEngine::notice, m_main.get(), &MainWindow::showStatusText);
    m_windows << m_main.get();

    auto add = [this](std::unique_ptr<QWidget> w) {
        QWidget* raw = w.get();
        m_windows << raw;
        m_owned.push_back(std::move(w));
        return raw;
    };
    auto* calling = static_cast<CallingDialog*>(add(std::make_unique<CallingDialog>(m_main.get())));
    m_main->attachCallSession(*calling, m_voice->sessionFactory());
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
    add(std::make_unique<VoiceEngineWindow>());
    m_main->attachDialogs(addressBook, settings);
}

Program::~Program() {
    // The dialogs are children of the main window for their placement; release them first. A
    // voice session still running when the program closes ends here, before the voice engine.
    m_main->detachCallSession();
    m_owned.clear();
    m_main.reset();
}

} // namespace talvora
