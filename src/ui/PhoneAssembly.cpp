#include "ui/PhoneAssembly.h"

#include "base/MessageService.h"
#include "call/CallSession.h"
#include "contacts/NetworkSource.h"
#include "phone/Phone.h"
#include "phone/PhoneCapture.h"
#include "ui/AddressBookDialog.h"
#include "ui/CallingDialog.h"
#include "ui/CaptureController.h"
#include "ui/DiscoveryDialog.h"
#include "ui/MainWindow.h"
#include "ui/SearchProgressWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/VideoOptionsDialog.h"
#include "ui/VoiceEngineWindow.h"

namespace talvora {

// The capture window as the phone starts and stops it: in the main window's preview panel, with
// its status texts on the line under the picture.
class PhoneAssembly::CaptureHookup final : public PhoneCapture {
public:
    explicit CaptureHookup(CaptureController& capture) : m_capture(capture) {}
    // The main window is made after the phone it shows; the phone starts only once it exists.
    void setMainWindow(MainWindow& main) { m_main = &main; }

    void startPreview() override {
        m_capture.setVideoPanel(m_main->previewPanel());
        m_capture.setStatusLabel(m_main->statusLabel());
        if (m_capture.createCaptureWindow()) {
            m_capture.startPreview();
        }
    }
    void stopCapture() override {
        m_capture.abortCapture();
        m_capture.destroyCaptureWindow();
    }
    CaptureFormatSource& formatSource() override { return m_capture; }

private:
    CaptureController& m_capture;
    MainWindow* m_main = nullptr;
};

namespace {

// A network with nothing on it, for a phone built without DNS-SD (tests).
class EmptyNetworkSource final : public NetworkSource {
public:
    void refresh(std::function<void()> ready) override { ready(); }
    void cancel() override {}
    std::optional<QList<NetworkResource>> readContainer(int, const NetworkResource*) override {
        return QList<NetworkResource>{};
    }
};

} // namespace

PhoneAssembly::PhoneAssembly(PhoneServices services) {
    MessageService& messages = services.messages;
    const QString addressBookPath = services.config.addressBookPath();
    auto networkSources = services.networkSources;
    m_capture = std::make_unique<CaptureController>(services.captureBackends);
    m_hookup = std::make_unique<CaptureHookup>(*m_capture);
    m_phone = std::make_unique<Phone>(std::move(services), m_hookup.get());
    Phone& phone = *m_phone;
    m_capture->setMessageService(&messages);
    m_capture->setFrameHandler(
        [&phone](const uchar* data, qsizetype size) { return phone.frameArrived(data, size); });
    m_capture->setFormatReader([&phone] { phone.readCaptureFormat(); });
    m_capture->setCameraMemory([&phone] { return phone.settingsStore().cameraDevice(); },
                               [&phone, &messages](const QString& devicePath) {
                                   runGuarded(messages,
                                              [&] { phone.settingsStore().saveCameraDevice(devicePath); });
                               });

    m_main = std::make_unique<MainWindow>(phone);
    m_windows << m_main.get();
    m_hookup->setMainWindow(*m_main);

    m_calling = static_cast<CallingDialog*>(&addWindow(std::make_unique<CallingDialog>(m_main.get())));
    phone.attachCallingView(*m_calling);
    m_calling->setCancelHandler([&phone] {
        if (CallSession* call = phone.callSession()) {
            call->onCancelClicked();
        }
    });
    auto& addressBook = static_cast<AddressBookDialog&>(
        addWindow(std::make_unique<AddressBookDialog>(addressBookPath, messages, m_main.get())));
    addressBook.setHail([&phone](const QString& address) { phone.hail(address); });
    m_networkSource = networkSources ? networkSources() : std::make_unique<EmptyNetworkSource>();
    auto& discovery = static_cast<DiscoveryDialog&>(
        addWindow(std::make_unique<DiscoveryDialog>(addressBook.book(), *m_networkSource, m_main.get())));
    addressBook.setDiscoveryDialog(&discovery);
    discovery.setProgressWindow(&addWindow(std::make_unique<SearchProgressWindow>(m_main.get())));
    m_settings = static_cast<SettingsDialog*>(&addWindow(std::make_unique<SettingsDialog>(
        phone.settingsStore(),
        SettingsOwner{[&phone] { return phone.settings(); },
                      [&phone](const PhoneSettings& s) { phone.applySettings(s); }},
        messages, m_main.get())));
    auto videoOptions = std::make_unique<VideoOptionsDialog>(*m_capture, m_main.get());
    videoOptions->setReadCaptureFormat([&phone] { phone.readCaptureFormat(); });
    m_settings->setVideoOptionsDialog(videoOptions.get());
    addWindow(std::move(videoOptions));
    m_main->attachDialogs(&addressBook, m_settings);
    // The voice engine's hidden host comes last.
    addWindow(std::make_unique<VoiceEngineWindow>());
}

void PhoneAssembly::start() {
    if (!m_started) {
        m_started = true;
        m_phone->start();
    }
}

PhoneAssembly::~PhoneAssembly() {
    // The dialogs are children of the main window for their placement; release them first, once
    // the call session that talks to the calling dialog has ended.
    m_phone->detachCallSession();
    m_owned.clear();
    m_main.reset();
}

QWidget& PhoneAssembly::addWindow(std::unique_ptr<QWidget> window) {
    QWidget& raw = *window;
    m_windows << &raw;
    m_owned.push_back(std::move(window));
    return raw;
}

} // namespace talvora
