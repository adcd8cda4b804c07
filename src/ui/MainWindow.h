#pragma once

#include "settings/ConfigLocation.h"
#include "base/NetworkConfig.h"
#include "transport/VideoSendState.h"

#include <QImage>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace talvora {

class MessageService;
class PictureButton;
class SignalEndpoint;
class TrackBar;
class WindowDrag;
class ControlPanel;
class PictureView;
class VideoReceiver;
class CaptureController;
class FrameBuffers;
class VideoSender;
class UdpDatagramSink;
class CallSession;
class CallingDialog;
class VoiceSessionFactory;
class SpeakerVolume;
class QtRingTimer;
class MediaRingTonePlayer;
class WidgetCallView;
class SliderLevelVoiceFactory;

// What the main window is given by the program entry.
struct MainWindowContext {
    MessageService& messages;
    ConfigLocation config;
    NetworkConfig network;
    CaptureController& videoCap;     // the one capture of the process
    FrameBuffers& frames;   // its frame state
    SpeakerVolume& speaker; // the machine's output volume
};

// The main window: borderless, always on top, the remote picture on the left and the control
// panel on the right. It owns the shared call state and the UDP endpoints; the logic of calls,
// media and files lives in the core classes it forwards to.
class MainWindow : public QWidget, private VideoSendState {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowContext context, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The dialogs the panel's buttons open; created after the main window, so attached later.
    void attachDialogs(QWidget* addressBook, QWidget* settings);
    // The call session needs the calling dialog, created right after the main window, and the
    // voice engine's factory; until this runs the phone takes no calls.
    void attachCallSession(CallingDialog& calling, VoiceSessionFactory& voice);
    CallSession& callSession() { return *m_call; }
    // Ends the call session before the windows it talks to are released.
    void detachCallSession();

    // Fields shared with the other windows.
    int FMicVolume = 0;
    int FMicLevel = 0;
    int FSavedMicLevel = 0;
    int FJpegQuality = 0;
    bool FVideoStarted = false;
    bool FVideoPeerKnown = false;

    // Controls that other windows and tests reach.
    QWidget* RbPanel1 = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblIPAddress = nullptr;
    QLineEdit* edtHostName = nullptr;
    PictureButton* Image4 = nullptr;
    PictureButton* Image5 = nullptr;
    PictureButton* Image6 = nullptr;
    PictureButton* Image7 = nullptr;
    PictureButton* Image8 = nullptr;
    PictureButton* Image9 = nullptr;
    PictureButton* Image10 = nullptr;
    PictureButton* Image11 = nullptr;
    QPushButton* btnCall = nullptr;
    QPushButton* btnEnd = nullptr;
    QPushButton* SpeedButton5 = nullptr;
    QPushButton* btnAddress = nullptr;
    QPushButton* SpeedButton6 = nullptr;
    QPushButton* SpeedButton8 = nullptr;
    QPushButton* btnMute = nullptr;
    QPushButton* btnExit = nullptr;
    TrackBar* TrbMic = nullptr;
    TrackBar* TrbVoice = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    PictureView* Image1 = nullptr;
    QLabel* lblCallerID = nullptr;
    QLabel* lblVideoArea = nullptr;
    QWidget* pnlVideoArea = nullptr;
    QImage Image12; // the idle picture, copied back into Image1 when a call ends

    SignalEndpoint& signalling() { return *m_signalling; }
    VideoReceiver& videoReceiver() { return *UDPServer1; }
    bool activated() const { return m_activated; }

    // The frame handler of the capture: converts one frame and, during a call, sends it.
    QImage FrameCallback(const uchar* data, qsizetype size);

public slots:
    void FormActivate();
    void btnExitClick();
    void SpeedButton8Click();
    void btnAddressClick();
    void SpeedButton5Click();
    void TrbMicChange();
    void TrbVoiceChange();
    void btnMuteClick();
    void onCallClicked();
    void onEndClicked();
    void SpeedButton6Click();
    void onRingTimeout();
    void Panel1MouseDown(QWidget* source, QPoint globalPos);
    // A status text for the line under the picture (camera and voice engine notices).
    void showStatusText(const QString& text);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControlPanel();
    void buildVideoArea();
    void layoutAreas();
    void FormClose();
    void LoadSettings();
    void SaveSettings();
    void StartVideo();
    void StopVideo();
    bool GetSpeakerVolume(quint16& left, quint16& right);
    // What the video sender reads and lowers.
    bool isSendingVideo() const override;
    QString videoHost() const override;
    int jpegQuality() const override { return FJpegQuality; }
    void setJpegQuality(int quality) override { FJpegQuality = quality; }
    bool SetSpeakerVolume(quint32 packed);

    MainWindowContext m_context;
    std::unique_ptr<SignalEndpoint> m_signalling;
    VideoReceiver* UDPServer1 = nullptr;
    std::unique_ptr<UdpDatagramSink> UDPClient1;
    std::unique_ptr<VideoSender> m_videoSender;
    QString m_videoHost; // UDPClient1's host, set when a call connects
    std::unique_ptr<QtRingTimer> Timer1;
    std::unique_ptr<MediaRingTonePlayer> MediaPlayer1;
    std::unique_ptr<WidgetCallView> m_callWindow;
    std::unique_ptr<SliderLevelVoiceFactory> m_voice;
    std::unique_ptr<CallSession> m_call;
    WindowDrag* m_drag = nullptr;
    QWidget* m_addressBook = nullptr;
    QWidget* m_settings = nullptr;
    bool m_activated = false;
    bool m_closing = false;
};

} // namespace talvora
