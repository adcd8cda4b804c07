#pragma once

#include <QImage>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace talvora {

class Phone;
class PictureButton;
class PictureView;
class RbButton;
class SvgPicture;
class TrackBar;
class WindowDrag;

// The main window: borderless, always on top, the remote picture on the left and the control
// panel on the right. It lays out the controls, shows what the phone's signals say and forwards
// the user's commands to the phone.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(Phone& phone, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The dialogs the panel's buttons open; created after the main window, so attached later.
    void attachDialogs(QWidget* addressBook, QWidget* settings);
    // Where the camera's preview and its status texts go.
    QWidget* previewPanel() const { return m_previewPanel; }
    QLabel* statusLabel() const { return m_statusLabel; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControlPanel();
    void buildVideoArea();
    void connectPhone();
    void layoutAreas();
    void onStarted(int micVolume);
    void onCallClicked();
    void onEndClicked();
    void onMuteClicked();
    void onExitClicked();
    void onMaximizeClicked();
    void onAddressBookClicked();
    void onSettingsClicked();
    void onMicSliderChanged();
    void onSpeakerSliderChanged();
    void onSnapshotClicked();
    void onHostFocusRequested();
    void showCallerLine(const QString& text);
    void showPrivacy(const QString& text, bool warning, bool canMarkVerified);

    Phone& m_phone;
    WindowDrag* m_drag = nullptr;
    QWidget* m_addressBook = nullptr;
    QWidget* m_settings = nullptr;
    bool m_closing = false;

    QWidget* m_controlPanel = nullptr;
    QWidget* m_videoArea = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLabel* m_addressLabel = nullptr;
    QLineEdit* m_hostEdit = nullptr;
    PictureButton* m_callPicture = nullptr;
    PictureButton* m_endPicture = nullptr;
    PictureButton* m_addressBookPicture = nullptr;
    PictureButton* m_settingsPicture = nullptr;
    PictureButton* m_maximizePicture = nullptr;
    PictureButton* m_snapshotPicture = nullptr;
    PictureButton* m_exitPicture = nullptr;
    PictureButton* m_mutePicture = nullptr;
    QPushButton* m_callButton = nullptr;
    QPushButton* m_endButton = nullptr;
    QPushButton* m_settingsButton = nullptr;
    QPushButton* m_addressBookButton = nullptr;
    QPushButton* m_snapshotButton = nullptr;
    QPushButton* m_maximizeButton = nullptr;
    QPushButton* m_muteButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    TrackBar* m_micSlider = nullptr;
    TrackBar* m_speakerSlider = nullptr;
    QLabel* m_micMinLabel = nullptr;
    QLabel* m_micLevelLabel = nullptr;
    QLabel* m_speakerMinLabel = nullptr;
    QLabel* m_speakerMaxLabel = nullptr;
    SvgPicture* m_speakerIcon = nullptr;
    SvgPicture* m_micIcon = nullptr;
    PictureView* m_remotePicture = nullptr;
    QLabel* m_callerLabel = nullptr;
    QString m_callerText; // whole, as the phone gave it; the label shows it elided to its width
    QLabel* m_statusLabel = nullptr;
    QLabel* m_privacyLabel = nullptr; // under the caller line: what the call's privacy is
    RbButton* m_codesMatch = nullptr; // while the users may compare the call's code
    bool m_privacyWarns = false;
    QWidget* m_previewPanel = nullptr;
    bool m_previewDocked = false; // from start-up on, the preview keeps to the bottom-left corner
    QImage m_idlePicture;         // copied back into the remote picture when a call ends
};

} // namespace talvora
