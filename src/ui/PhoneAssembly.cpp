#include "ui/PhoneAssembly.h"

#include "call/CallSession.h"
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

namespace talvora {

// The capture window as the phone starts and stops it: in the main window's preview panel, with
// its status texts on the line under the picture.
class PhoneAssembly::CaptureHookup final : public PhoneCapture {
public:
    CaptureHookup(CaptureController& capture, MainWindow& main) : m_capture(capture), m_main(main) {}

    void startPreview() override {
        m_capture.SetVideoPanel(m_main.previewPanel());
        m_capture.SetStatusLabel(m_main.statusLabel());
        if (m_capture.CreateCaptureWindow()) {
            m_capture.StartPreview();
        }
    }
    void stopCapture() override {
        m_capture.AbortCapture();
        m_capture.DestroyCaptureWindow();
    }
    CaptureFormatSource& formatSource() override { return m_capture; }

private:
    CaptureController& m_capture;
    MainWindow& m_main;
};

PhoneAssembly::PhoneAssembly(PhoneServices services) {
    MessageService& messages = services.messages;
    const QString settingsPath = services.config.settingsPath();
    m_capture = std::make_unique<CaptureController>(services.captureBackends);
    m_phone = std::make_unique<Phone>(std::move(services));
    Phone& phone = *m_phone;
    m_capture->setMessageService(&messages);
    m_capture->setFrameHandler(
        [&phone](const uchar* data, qsizetype size) { return phone.frameArrived(data, size); });

    m_main = std::make_unique<MainWindow>(phone);
    m_windows << m_main.get();
    m_hookup = std::make_unique<CaptureHookup>(*m_capture, *m_main);
    phone.attachCapture(*m_hookup);

    m_calling = static_cast<CallingDialog*>(&addWindow(std::make_unique<CallingDialog>(m_main.get())));
    phone.attachCallingView(*m_calling);
    m_calling->setCancelHandler([&phone] {
        if (CallSession* call = phone.callSession()) {
            call->onCancelClicked();
        }
    });
    QWidget& addressBook = addWindow(std::make_unique<AddressBookDialog>(m_main.get()));
    addWindow(std::make_unique<DiscoveryDialog>(m_main.get()));
    addWindow(std::make_unique<SearchProgressWindow>(m_main.get()));
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
