#pragma once

#include <QDialog>

#include <functional>

class QGroupBox;

namespace talvora {

class RbButton;
class RbPanel;
class CaptureController;

// The video options dialog: the two buttons open the capture driver's own source and format
// dialogs when the driver has them; a format change is adopted by the frame pipeline at once.
class VideoOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    VideoOptionsDialog(CaptureController& videoCap, QWidget* parent = nullptr);

    // Re-reads the capture format after the format dialog (the frame buffers' readCaptureFormat).
    void setReadCaptureFormat(std::function<void()> readCaptureFormat) {
        m_readCaptureFormat = std::move(readCaptureFormat);
    }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void onShown();
    void onSourceClicked();
    void onFormatClicked();
    void onCloseClicked();

    CaptureController& m_videoCap;
    std::function<void()> m_readCaptureFormat;
    RbPanel* m_panel = nullptr;
    QGroupBox* m_generalGroup = nullptr;
    RbButton* m_sourceButton = nullptr;
    RbButton* m_formatButton = nullptr;
    RbButton* m_closeButton = nullptr;
};

} // namespace talvora
