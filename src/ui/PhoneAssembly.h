#pragma once

#include "phone/PhoneServices.h"

#include <QList>
#include <QWidget>

#include <memory>
#include <vector>

namespace talvora {

class CallingDialog;
class CaptureController;
class NetworkSource;
class MainWindow;
class Phone;
class SettingsDialog;

// Builds one phone with its windows and wires them: the phone, the capture window's controller,
// then the windows hidden in their fixed order (main window, calling dialog, address book,
// discovery, search progress, settings, video options, the voice engine's hidden host). The
// program and the tests build through this, so the tests run the program's own wiring.
// Everything lives until the assembly is destroyed; the main window is the first window, and
// closing it ends the program.
class PhoneAssembly {
public:
    explicit PhoneAssembly(PhoneServices services);
    ~PhoneAssembly();

    PhoneAssembly(const PhoneAssembly&) = delete;
    PhoneAssembly& operator=(const PhoneAssembly&) = delete;

    // Starts the phone (settings, signalling port, levels, camera, video port), once. The program
    // calls it before it shows the main window: a phone listens whether or not its window was
    // ever shown or focused.
    void start();
    bool started() const { return m_started; }

    Phone& phone() { return *m_phone; }
    MainWindow& mainWindow() { return *m_main; }
    CallingDialog& callingDialog() { return *m_calling; }
    SettingsDialog& settingsDialog() { return *m_settings; }
    CaptureController& capture() { return *m_capture; }
    QList<QWidget*> windowsInCreationOrder() const { return m_windows; }

private:
    class CaptureHookup;

    QWidget& addWindow(std::unique_ptr<QWidget> window);

    std::unique_ptr<Phone> m_phone;
    std::unique_ptr<CaptureController> m_capture;
    std::unique_ptr<NetworkSource> m_networkSource; // outlives the discovery dialog
    std::unique_ptr<CaptureHookup> m_hookup;
    std::unique_ptr<MainWindow> m_main;
    CallingDialog* m_calling = nullptr;
    SettingsDialog* m_settings = nullptr;
    QList<QWidget*> m_windows;
    std::vector<std::unique_ptr<QWidget>> m_owned; // all windows but the main window
    bool m_started = false;
};

} // namespace talvora
