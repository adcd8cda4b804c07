#include "app/Program.h"

#include "app/PendingWindows.h"
#include "call/CallingStatus.h"
#include "contacts/IP.h"
#include "contacts/NetWorkClients.h"
#include "contacts/PageExport.h"
#include "settings/Settings.h"
#include "shell/Main.h"
#include "shell/QtMessageService.h"

namespace talvora {

Program::Program(const CommandLine& options, const QString& programDir)
    : m_messages(std::make_unique<QtMessageService>()) {
    m_main = std::make_unique<TfrmMain>(
        MainWindowContext{*m_messages, ConfigLocation(options.configDir, programDir), options.network});
    m_messages->setParent(m_main.get());
    m_windows << m_main.get();

    auto add = [this](std::unique_ptr<QWidget> w) {
        QWidget* raw = w.get();
        m_windows << raw;
        m_owned.push_back(std::move(w));
        return raw;
    };
    add(std::make_unique<TfrmCalling>(m_main.get()));
    QWidget* addressBook = add(std::make_unique<TfrmIP>(m_main.get()));
    add(std::make_unique<TfrmNetworkClients>(m_main.get()));
    add(std::make_unique<TfrmExport>(m_main.get()));
    auto* settings = static_cast<TfrmSettings*>(add(std::make_unique<TfrmSettings>(
        SettingsFields{m_main->FRingTone, m_main->FRingTime, m_main->FMessage, m_main->FCallerID},
        ConfigLocation(options.configDir, programDir).settingsPath(), *m_messages, m_main.get())));
    settings->setVideoOptionsDialog(
        static_cast<QDialog*>(add(std::make_unique<TfrmVideoOptions>(m_main.get()))));
    add(std::make_unique<TfrmCCN>());
    m_main->attachDialogs(addressBook, settings);
}

Program::~Program() {
    // The dialogs are children of the main window for their placement; release them first.
    m_owned.clear();
}

} // namespace talvora
