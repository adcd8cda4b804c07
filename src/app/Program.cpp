#include "app/Program.h"

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
#include "ui/VoiceEngineWindow.h"
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
        *m_messages,
        *m_speaker,
        [testCamera] { return makeCaptureBackend(testCamera); },
        m_voice->sessionFactory(),
        [] { return std::make_unique<MediaRingTonePlayer>(); },
        [] { return std::make_unique<QtRingTimer>(); },
        options.network,
        ConfigLocation(options.configDir, programDir),
        [] {
            return std::make_unique<CallNotifier>(QDBusConnection::sessionBus(), applicationTitle(),
                                                  QGuiApplication::desktopFileName());
        },
        [] { return std::make_unique<AvahiNetworkSource>(); },
        [](const QString& callerId) { return std::make_unique<ServicePublisher>(callerId); },
    });
    // Discovered phones are called by their .local names: where the system resolver does not
    // know them, multicast DNS answers.
    setHostLookupFallback([](const QString& host) { return resolveMdnsIPv4(host); });
    m_messages->setParent(&m_assembly->mainWindow());

    // The engine's hidden host window comes last of the eight.
    m_assembly->addWindow(std::make_unique<VoiceEngineWindow>());
    QObject::connect(m_voice.get(), &VoiceEngine::notice, &m_assembly->phone(), &Phone::showNotice);
}

Program::~Program() {
    // A voice session still running when the program closes ends before the engine.
    m_assembly->phone().detachCallSession();
    m_assembly.reset();
    setHostLookupFallback(nullptr);
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
