#include "ui/CaptureController.h"

#include <QDialog>

#include "base/MessageService.h"
#include "capture/CaptureThread.h"
#include "ui/CaptureFormatDialog.h"
#include "ui/CaptureSourceDialog.h"
#include "ui/DialogFrame.h"

namespace talvora {

CaptureController::CaptureController(BackendFactory factory) : m_factory(std::move(factory)) {}

CaptureController::~CaptureController() {
    destroyCaptureWindow();
}

void CaptureController::setVideoPanel(QWidget* panel) {
    m_videoPanel = panel;
}

void CaptureController::setStatusLabel(QLabel* label) {
    m_statusLabel = label;
}

bool CaptureController::createCaptureWindow() {
    if (!m_videoPanel)
        return false;
    if (m_captureWindow)
        destroyCaptureWindow();
    // The window takes the panel's size now; it does not follow later resizes of the panel.
    auto* window = new CaptureWindow(m_videoPanel);
    window->setGeometry(0, 0, m_videoPanel->width(), m_videoPanel->height());
    window->show();
    m_captureWindow = window;
    auto backend = std::make_unique<CaptureThread>(m_factory);
    if (!backend->valid()) {
        destroyCaptureWindow();
        return false;
    }
    m_backend = std::move(backend);
    m_backend->setStatusCallback(nullptr);
    m_backend->setStatusCallback(
        [this](CaptureBackend::StatusId id, const QString& text) { showStatus(id, text); });
    m_backend->setFrameCallback([this](const uchar* data, qsizetype size) { frameArrived(data, size); });
    m_backend->setDeviceAppearedCallback([this] { deviceAppeared(); });
    m_previewWanted = false;
    m_wantedFormat.clear();
    connectFirstDriver();
    showPanelWhileConnected();
    return true;
}

// The remembered camera first, then the first of 0..9 that works.
bool CaptureController::connectFirstDriver() {
    const QString preferred = m_preferredCamera ? m_preferredCamera() : QString();
    int preferredIndex = -1;
    for (int index = 0; index <= 9 && !preferred.isEmpty(); ++index) {
        if (m_backend->devicePath(index) == preferred)
            preferredIndex = index;
    }
    if (preferredIndex >= 0 && connectDriver(preferredIndex))
        return true;
    for (int index = 0; index <= 9; ++index) {
        if (index != preferredIndex && connectDriver(index))
            return true;
    }
    return false;
}

void CaptureController::chooseCamera(int index) {
    if (!m_captureWindow || !m_backend)
        return;
    CaptureDriverCaps caps;
    if (m_backend->getDriverCaps(caps) && int(caps.deviceIndex) == index)
        return;
    const bool chosen = connectDriver(index);
    if (!chosen && !connectFirstDriver()) {
        showPanelWhileConnected();
        return;
    }
    if (chosen && m_cameraChosen)
        m_cameraChosen(m_backend->devicePath(index));
    resumeAfterConnecting();
}

// A camera plugged in after the start, or again after it was pulled out.
void CaptureController::deviceAppeared() {
    if (!m_captureWindow || !m_backend || m_backend->isConnected())
        return;
    if (!connectFirstDriver())
        return;
    resumeAfterConnecting();
}

// A camera connected anew takes over where the last one stopped: the format is asked for again
// and read by the frame buffers before the preview resumes, so that calls go on sending.
void CaptureController::resumeAfterConnecting() {
    if (!m_wantedFormat.isEmpty())
        m_backend->setVideoFormat(m_wantedFormat);
    if (m_formatReader)
        m_formatReader();
    if (m_previewWanted && m_backend)
        startPreview();
    showPanelWhileConnected();
}

// Without a camera the preview panel would be a black hole in the idle picture.
void CaptureController::showPanelWhileConnected() {
    if (m_videoPanel) {
        m_videoPanel->setVisible(m_backend && m_backend->isConnected());
    }
}

bool CaptureController::connectDriver(int index) {
    if (!m_captureWindow || !m_backend)
        return false;
    try {
        if (!m_backend->connectDriver(index))
            return false;
        CaptureSettings settings;
        if (!m_backend->getSequenceSetup(settings))
            return false;
        // 15 frames a second in the record; the preview runs at kPreviewRateMs (startPreview).
        settings.microSecPerFrame = 66667;
        settings.yield = true;
        settings.captureAudio = true;
        settings.abortKey = 27; // Escape
        settings.abortLeftMouse = false;
        settings.abortRightMouse = false;
        settings.limitEnabled = false;
        settings.mciControl = false;
        return m_backend->setSequenceSetup(settings);
    } catch (...) {
        return false;
    }
}

void CaptureController::startPreview() {
    if (!m_captureWindow || !m_backend)
        return;
    m_previewWanted = true;
    m_captureWindow->setScale(true);
    m_backend->setPreviewRate(kPreviewRateMs);
    // There is no hardware overlay to switch off: frames are always drawn by the window.
    m_backend->setPreview(true);
}

// There is no capture to a file; the only capture in progress is the preview stream.
void CaptureController::abortCapture() {
    m_previewWanted = false;
    if (m_captureWindow && m_backend)
        m_backend->setPreview(false);
}

void CaptureController::destroyCaptureWindow() {
    closeDriverDialog();
    if (m_backend) {
        m_backend->setStatusCallback(nullptr);
        m_backend->setFrameCallback(nullptr);
        m_backend->setDeviceAppearedCallback(nullptr);
        m_backend->disconnectDriver();
        m_backend.reset(); // its thread ends after the frame in hand
    }
    delete m_captureWindow.data();
    m_captureWindow = nullptr;
}

bool CaptureController::hasSourceDialog() const {
    CaptureDriverCaps caps;
    return m_captureWindow && m_backend && m_backend->getDriverCaps(caps) && caps.hasSourceDialog;
}

bool CaptureController::hasFormatDialog() const {
    CaptureDriverCaps caps;
    return m_captureWindow && m_backend && m_backend->getDriverCaps(caps) && caps.hasFormatDialog;
}

void CaptureController::showSourceDialog() {
    if (!m_captureWindow || !m_backend || !m_backend->isConnected() || m_driverDialog)
        return;
    runDialog(new CaptureSourceDialog(*m_backend, m_captureWindow->window(),
                                      [this](int index) { chooseCamera(index); }),
              {});
}

void CaptureController::showFormatDialog() {
    if (!m_captureWindow || !m_backend || !m_backend->isConnected() || m_driverDialog)
        return;
    runDialog(new CaptureFormatDialog(*m_backend, m_captureWindow->window()), [this] {
        if (m_backend && m_backend->isConnected())
            m_wantedFormat = m_backend->videoFormat();
    });
}

// The dialog talks to the back end directly: it goes when the back end goes (closeDriverDialog).
void CaptureController::runDialog(QDialog* dialog, std::function<void()> afterwards) {
    m_driverDialog = dialog;
    if (m_dialogRunner) {
        m_dialogRunner(*dialog);
        delete dialog;
        if (afterwards)
            afterwards();
        return;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (afterwards)
        QObject::connect(dialog, &QDialog::finished, &m_context, [afterwards](int) { afterwards(); });
    openOverEverything(*dialog);
}

void CaptureController::closeDriverDialog() {
    delete m_driverDialog.data();
}

void CaptureController::showStatus(CaptureBackend::StatusId, const QString& text) {
    if (m_statusLabel) {
        m_statusLabel->setText(text);
        m_statusLabel->repaint();
    }
    showPanelWhileConnected();
}

bool CaptureController::setVideoFormat(const QByteArray& formatBlock) {
    if (!m_captureWindow || !m_backend)
        return false;
    m_wantedFormat = formatBlock;
    return m_backend->setVideoFormat(formatBlock);
}

QByteArray CaptureController::videoFormat() const {
    return m_captureWindow && m_backend ? m_backend->videoFormat() : QByteArray();
}

// On the camera thread: the picture for the preview, and an error for the box, go over to the
// window's thread; nothing here waits for it.
void CaptureController::frameArrived(const uchar* data, qsizetype size) {
    if (!m_frameHandler)
        return;
    try {
        const QImage picture = m_frameHandler(data, size);
        if (!picture.isNull())
            m_previews.post(picture);
    } catch (const Error& e) {
        m_frameErrors.post(e.text());
    } catch (const std::exception& e) {
        m_frameErrors.post(QString::fromUtf8(e.what()));
    }
}

void CaptureController::showPreview(const QImage& picture) {
    if (m_captureWindow)
        m_captureWindow->showFrame(picture);
}

void CaptureController::showFrameError(const QString& text) {
    if (m_messages)
        showStandardError(*m_messages, text);
}

} // namespace talvora
