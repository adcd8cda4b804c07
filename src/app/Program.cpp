#include "app/Program.h"

#include "base/HostResolver.h"
#include "base/LocalAddress.h"
#include "call/CallSession.h"
#include "capture/CaptureBackendFactory.h"
#include "capture/TestCameraOption.h"
#include "contacts/AvahiNetworkSource.h"
#include "contacts/MdnsResolver.h"
#include "contacts/ServicePublisher.h"
#include "convert/FrameBuffers.h"
#include "settings/SettingsFile.h"
#include "ui/AddressBookDialog.h"
#include "ui/CallingDialog.h"
#include "ui/CaptureController.h"
#include "ui/DiscoveryDialog.h"
#include "ui/MainWindow.h"
#include "ui/QtMessageService.h"
#include "ui/SearchProgressWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/VideoOptionsDialog.h"
#include "ui/VoiceEngineWindow.h"
#include "voice/PulseSpeakerVolume.h"

#include <QLineEdit>

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
    const ConfigLocation config(options.configDir, programDir);
    auto* addressBook = static_cast<AddressBookDialog*>(
        add(std::make_unique<AddressBookDialog>(config.addressBookPath(), *m_messages, m_main.get())));
    if (auto* hostName = m_main->findChild<QLineEdit*>(QStringLiteral("edtHostName"))) {
        addressBook->setHail([hostName](const QString& address) { hostName->setText(address); });
    }
    m_networkSource = std::make_unique<AvahiNetworkSource>();
    auto* discovery = static_cast<DiscoveryDialog*>(
        add(std::make_unique<DiscoveryDialog>(addressBook->book(), *m_networkSource, m_main.get())));
    addressBook->setDiscoveryDialog(discovery);
    discovery->setProgressWindow(add(std::make_unique<SearchProgressWindow>(m_main.get())));
    // The phone announces itself under the caller ID of its settings file; .local names of
    // discovered phones resolve through Avahi where the system resolver cannot.
    QStringList ignoredProblems; // the main window reports them when it reads the file itself
    m_publisher = std::make_unique<ServicePublisher>(
        loadPhoneSettings(IniFile(config.settingsPath()), GetLocalIPAddress(), ignoredProblems).callerId);
    setHostLookupFallback([](const QString& host) { return resolveMdnsIPv4(host); });
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
    setHostLookupFallback(nullptr);
    m_publisher.reset(); // withdraws the announcement
    m_networkSource.reset();
}

} // namespace talvora
