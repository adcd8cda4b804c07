#include "app/Program.h"

#include "app/PendingWindows.h"
#include "call/CallingStatus.h"
#include "contacts/IP.h"
#include "contacts/NetWorkClients.h"
#include "contacts/PageExport.h"
#include "settings/Settings.h"
#include "shell/Main.h"
#include "shell/QtMessageService.h"
#include "video/CaptureBackendFactory.h"
#include "video/FrameBuffers.h"
#include "video/TestCameraOption.h"
#include "video/VideoCap.h"
#include "video/VideoOptions.h"

namespace talvora {

Program::Program(const CommandLine& options, const QString& programDir)
    : m_messages(std::make_unique<QtMessageService>()) {
    std::optional<TestCameraConfig> testCamera;
    if (options.testCamera) {
        testCamera = parseTestCameraOption(options.testCameraSpec);
    }
    m_videoCap = std::make_unique<VideoCap>([testCamera] { return makeCaptureBackend(testCamera); });
    m_frames = std::make_unique<FrameBuffers>(*m_messages);
    m_main = std::make_unique<TfrmMain>(MainWindowContext{
        *m_messages, ConfigLocation(options.configDir, programDir), options.network, *m_videoCap, *m_frames});
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
    auto videoOptions = std::make_unique<TfrmVideoOptions>(*m_videoCap, m_main.get());
    videoOptions->setReadCaptureFormat([this] { m_frames->ReadCaptureFormat(*m_videoCap); });
    settings->setVideoOptionsDialog(videoOptions.get());
    add(std::move(videoOptions));
    add(std::make_unique<TfrmCCN>());
    m_main->attachDialogs(addressBook, settings);
}

Program::~Program() {
    // The dialogs are children of the main window for their placement; release them first.
    m_owned.clear();
    m_main.reset();
}

} // namespace talvora
