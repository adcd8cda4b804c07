#include "app/Program.h"

#include "app/MainThreadLag.h"
#include "base/HostResolver.h"
#include "call/MediaRingTonePlayer.h"
#include "call/RingTimer.h"
#include "capture/CaptureBackendFactory.h"
#include "capture/TestCameraOption.h"
#include "contacts/AvahiNetworkSource.h"
#include "contacts/MdnsResolver.h"
#include "contacts/ServicePublisher.h"
#include "phone/CallNotifier.h"
#include "phone/Phone.h"
#include "ui/MainWindow.h"
#include "ui/PhoneAssembly.h"
#include "ui/QtMessageService.h"
#include "voice/PulseSpeakerVolume.h"
#include "voice/VoiceEngine.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace talvora {

Program::Program(const CommandLine& options, const QString& programDir)
    : m_messages(std::make_unique<QtMessageService>()), m_speaker(std::make_unique<PulseSpeakerVolume>()),
      m_voice(std::make_unique<VoiceEngine>(options.network)) {
    std::optional<TestCameraConfig> testCamera;
    if (options.testCamera) {
        testCamera = parseTestCameraOption(options.testCameraSpec);
    }
    m_assembly = std::make_unique<PhoneAssembly>(PhoneServices{
        .messages = *m_messages,
        .speaker = *m_speaker,
        .captureBackends = [testCamera] { return makeCaptureBackend(testCamera); },
        .voice = m_voice->sessionFactory(),
        .ringTones = [] { return std::make_unique<MediaRingTonePlayer>(); },
        .ringTimers = [] { return std::make_unique<QtRingTimer>(); },
        .network = options.network,
        .config = ConfigLocation(options.configDir, programDir),
        .notifiers =
            [] {
                return std::make_unique<CallNotifier>(QDBusConnection::sessionBus(), applicationTitle(),
                                                      QGuiApplication::desktopFileName());
            },
        .networkSources = [] { return std::make_unique<AvahiNetworkSource>(); },
        .publishers =
            [linkPort = options.network.linkPort](const QString& callerId) {
                return std::make_unique<ServicePublisher>(callerId, linkPort);
            },
        // Discovered phones are called by their .local names: where the system resolver does not
        // know them, multicast DNS answers.
        .lookup =
            [](const QString& host, QObject* context, HostLookupDone done) {
                lookupHostIPv4(host, context, std::move(done),
                               [](const QString& name) { return resolveMdnsIPv4(name); });
            },
    });
    m_messages->setParent(&m_assembly->mainWindow());
    if (const QString lagReport = qEnvironmentVariable("TALVORA_MEASURE_LAG"); !lagReport.isEmpty()) {
        m_lag = std::make_unique<MainThreadLag>(lagReport);
        QObject::connect(&m_assembly->phone(), &Phone::pictureReceived, m_lag.get(),
                         &MainThreadLag::pictureShown);
    }
    m_assembly->start();
}

Program::~Program() {
    // A voice session still running when the program closes ends before the engine.
    m_assembly->phone().detachCallSession();
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
