#pragma once

#include <QByteArray>
#include <QImage>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

#include "base/LatestValue.h"
#include "capture/CaptureBackend.h"
#include "convert/CaptureFormatSource.h"
#include "ui/CaptureWindow.h"

class QDialog;

namespace talvora {

class MessageService;

// The one webcam capture of the process: the capture window (a child of the preview panel),
// the back end behind it on the camera thread (CaptureThread), the preview and the status
// texts. The operations keep the names the rest of the program knows them by. Frames are
// handled on the camera thread by the frame handler, whose picture the capture window shows:
// only the newest picture crosses to the window's thread, so a busy window never falls behind.
class CaptureController final : public CaptureFormatSource {
public:
    // Converts one frame (laid out as videoFormat() describes) and returns the 24-bit picture,
    // or a null image when the frame is dropped. The preview shows the picture scaled. Runs on
    // the camera thread; it may throw talvora::Error, shown in the standard error box.
    using FrameHandler = std::function<QImage(const uchar* data, qsizetype size)>;
    // Makes the back end of a new capture window; null means the window cannot be created.
    using BackendFactory = std::function<std::unique_ptr<CaptureBackend>()>;
    // Runs a driver dialog to its end (tests); by default the dialog is opened over everything
    // and goes on from the event loop.
    using DialogRunner = std::function<void(QDialog& dialog)>;
    // Reads the format of a camera connected again (the frame buffers' readCaptureFormat).
    using FormatReader = std::function<void()>;
    // The camera remembered from the last run (its node), read when the window is created, and
    // where a camera the user chose is remembered.
    using PreferredCamera = std::function<QString()>;
    using CameraChosen = std::function<void(const QString& devicePath)>;

    static constexpr int kPreviewRateMs = 33;

    explicit CaptureController(BackendFactory factory);
    ~CaptureController() override;

    CaptureController(const CaptureController&) = delete;
    CaptureController& operator=(const CaptureController&) = delete;

    void setVideoPanel(QWidget* panel);
    void setStatusLabel(QLabel* label);
    // Creates the capture window with the panel's size and connects the first driver of 0..9
    // that works. True when the window exists, with or without a driver.
    bool createCaptureWindow();
    // Connects driver `index` and writes the capture settings. True when all of it succeeded.
    bool connectDriver(int index);
    void startPreview();
    void abortCapture();
    void destroyCaptureWindow();
    bool hasSourceDialog() const;
    bool hasFormatDialog() const;
    void showSourceDialog();
    void showFormatDialog();
    // Shows a status text of the back end on the status label at once.
    void showStatus(CaptureBackend::StatusId statusId, const QString& text);

    // Set before the capture window is created: frames read it on the camera thread.
    void setFrameHandler(FrameHandler handler) { m_frameHandler = std::move(handler); }
    // Where an error escaping the frame handler is shown (the standard error box); without one
    // such a frame is dropped silently.
    void setMessageService(MessageService* messages) { m_messages = messages; }
    void setDialogRunner(DialogRunner runner) { m_dialogRunner = std::move(runner); }
    void setFormatReader(FormatReader reader) { m_formatReader = std::move(reader); }
    void setCameraMemory(PreferredCamera preferred, CameraChosen chosen) {
        m_preferredCamera = std::move(preferred);
        m_cameraChosen = std::move(chosen);
    }
    // Switches to driver `index` (the source dialog's choice) and remembers it when it works;
    // when it does not, the first camera that works takes over.
    void chooseCamera(int index);

    CaptureWindow* captureWindow() const { return m_captureWindow; }
    // Calls made through it run on the camera thread, each in turn after the frame in hand.
    CaptureBackend* backend() const { return m_backend.get(); }

    // The format operations the frame buffers use.
    bool hasCaptureWindow() const override { return m_captureWindow != nullptr; }
    bool setVideoFormat(const QByteArray& formatBlock) override;
    QByteArray videoFormat() const override;

private:
    void frameArrived(const uchar* data, qsizetype size);
    bool connectFirstDriver();
    void deviceAppeared();
    void resumeAfterConnecting();
    void runDialog(QDialog* dialog, std::function<void()> afterwards);
    void closeDriverDialog();
    void showPanelWhileConnected();
    void showPreview(const QImage& picture);
    void showFrameError(const QString& text);

    BackendFactory m_factory;
    QPointer<QWidget> m_videoPanel;
    QPointer<QLabel> m_statusLabel;
    QPointer<CaptureWindow> m_captureWindow;
    // The camera thread's pictures and errors, on their way to the window's thread; they outlive
    // the back end that posts them.
    LatestValue<QImage> m_previews{[this](QImage picture) { showPreview(picture); }};
    LatestValue<QString> m_frameErrors{[this](QString text) { showFrameError(text); }};
    std::unique_ptr<CaptureBackend> m_backend;
    QObject m_context;
    FrameHandler m_frameHandler;
    MessageService* m_messages = nullptr;
    DialogRunner m_dialogRunner;
    QPointer<QDialog> m_driverDialog; // the source or format dialog while it is open
    FormatReader m_formatReader;
    PreferredCamera m_preferredCamera;
    CameraChosen m_cameraChosen;
    // What a camera plugged in again resumes: the preview, and the format last asked for.
    bool m_previewWanted = false;
    QByteArray m_wantedFormat;
};

} // namespace talvora
