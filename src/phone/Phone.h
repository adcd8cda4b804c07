#pragma once

#include "base/Clock.h"
#include "base/DatagramGuard.h"
#include "call/CallState.h"
#include "call/CallView.h"
#include "link/LinkWire.h"
#include "phone/CallMonitor.h"
#include "phone/PhoneServices.h"
#include "secure/IdentityKey.h"
#include "secure/PrivateCall.h"
#include "secure/VerifiedPeers.h"
#include "settings/PhoneSettings.h"
#include "settings/SettingsStore.h"
#include "transport/VideoReceiver.h"
#include "transport/VideoSendState.h"
#include "voice/SpeakerVolumeWorker.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class QTimer;

namespace talvora {

class CallNotifier;
class MessageService;
class ServicePublisher;
class CallSession;
class CallingView;
class FrameBuffers;
class PhoneCapture;
class RingTimer;
class RingTonePlayer;
class SignalEndpoint;
class SliderLevelVoiceFactory;
class UdpDatagramSink;
class PeerLink;
class VideoSender;

// One running phone without its windows: the signalling endpoint and the call session, the ring
// timer and tone, the video receiver, sender and datagram sink, the frame buffers of the capture,
// the settings, and the levels of the microphone and speaker. The main window shows what its
// signals say and forwards the user's commands to its methods; the call session sees the phone
// as its CallView, which the phone turns into signals. Everything runs on the main thread.
//
// The public commands report the errors they do not handle themselves in the standard error box.
class Phone final : public QObject, private CallView, private VideoSendState {
    Q_OBJECT
public:
    // `capture` is the capture window the phone starts and stops (none: the phone has no camera).
    explicit Phone(PhoneServices services, PhoneCapture* capture = nullptr, QObject* parent = nullptr);
    ~Phone() override;

    // The call session needs the calling dialog, a window that belongs to the main window and so
    // is made after it; until this runs the phone takes no calls.
    void attachCallingView(CallingView& calling);
    // Ends the call session before the windows it talks to are released.
    void detachCallSession();

    // Start-up, once, when the phone and its windows are built: reads the settings, opens the
    // signalling port, shows the start levels, starts the camera and opens the video port.
    void start();
    // Shut-down, when the main window closes: keeps the microphone slider's level for the next run
    // and stops the camera. A call in progress is not ended and the peer is told nothing.
    void shutDown();

    // The frame handler of the capture: converts one frame and, during a call, sends it.
    QImage frameArrived(const uchar* data, qsizetype size);
    // Re-reads the driver's format (after its format dialog).
    void readCaptureFormat();

    // The settings the settings dialog shows, and what it commits after saving them to the store.
    PhoneSettings settings() const;
    void applySettings(const PhoneSettings& settings);
    const SettingsStore& settingsStore() const { return m_store; }

    CallSession* callSession() const { return m_call.get(); }
    SignalEndpoint& signalling() { return *m_signalling; }
    VideoReceiver& videoReceiver() { return *m_videoReceiver; }
    FrameBuffers& frames() { return *m_frames; }
    QString localAddress() const { return m_localAddress; }
    bool videoStarted() const { return m_videoStarted; }
    int micVolume() const { return m_micVolume; }
    int micLevel() const { return m_micLevel; }
    int savedMicLevel() const { return m_savedMicLevel; }
    int jpegQuality() const override { return m_jpegQuality.load(); }
    QString hostText() const override { return m_hostText; }
    // The link to a Talvora peer on UDP 6768 (for diagnostics and tests).
    PeerLink& link() { return *m_link; }

public slots:
    // The user's commands.
    void call();
    void end();
    void toggleMute();
    // The microphone slider moved to `position` (by the user or from code).
    void setMicLevel(int position);
    // The speaker slider moved: both channels get its volume.
    void setSpeakerVolume(int position);
    // The user typed into the host field.
    void hostEdited(const QString& text);
    // Once a second during a call (CallMonitor): the status line when nothing or only the voice
    // arrives from the peer, a report to a Talvora peer, the path's loss for the picture budget,
    // and the end of a call whose Talvora peer went away without a word.
    void checkPeerActivity();
    // The users compared the call's code and found it the same: the peer is remembered as
    // verified, and later calls with it say so without a comparison.
    void markPeerVerified();
    // An address chosen in the address book goes into the address box.
    void hail(const QString& address) { setHostText(address); }
    // A status notice for the line under the picture (from the voice engine).
    void showNotice(const QString& text);

signals:
    void localAddressChanged(const QString& address);
    // The signalling port is open: the window shows the start level on the microphone slider.
    void started(int micVolume);
    // The speaker volume as the sound server reported it after the start (the middle when it
    // has none to report): the window shows it on the speaker slider.
    void speakerVolumeRead(int speakerVolume);
    void pictureReceived(const QImage& picture);
    void idlePictureRequested();
    void hostTextChanged(const QString& text);
    void hostFocusRequested();
    void callerIdText(const QString& text);
    void attentionRequested();
    void statusText(const QString& text);
    // The microphone slider must move to `position` (mute and unmute).
    void micSliderRequested(int position);
    // The user clicked the incoming call's notification: bring the window to the front.
    void windowRaiseRequested();
    // What the call's privacy comes to, for the line under the caller line ("" outside a call);
    // `warning` when the user must not miss it; `canMarkVerified` while the users may compare
    // the code and say that it matched.
    void privacyChanged(const QString& text, bool warning, bool canMarkVerified);

private:
    void callStateChanged(CallState from, CallState to);
    QString peerName() const;
    void beginLinkedCall(const QHostAddress& peer);
    void endLinkedCall();
    void peerHungUp();
    // Ends the call as End does, and the status line says why until the next call.
    void endCallSaying(const QString& line);
    std::shared_ptr<DatagramGuard> callGuards();
    void privacyStatusChanged(const PrivateCallStatus& status);
    void loadIdentity();
    void ringTimeout();
    void loadSettings();
    void startVideo();
    void stopVideo();

    // CallView: the call session's view of the windows.
    void setHostText(const QString& text) override;
    void focusHost() override;
    void setCallerLine(const QString& text) override;
    void showIdlePicture() override;
    void flashTaskbar() override;
    void setVideoDestination(const QString& host) override;
    void setSendingVideo(bool on) override { m_sendingVideo.store(on); }
    // VideoSendState: what the video sender reads and lowers.
    // They run on the camera thread: the fields they read are atomic or behind m_destinationLock.
    bool isSendingVideo() const override { return m_sendingVideo.load(); }
    QHostAddress videoDestination() const override;
    void setJpegQuality(int quality) override { m_jpegQuality.store(quality); }

    PhoneServices m_services;
    SettingsStore m_store;
    std::unique_ptr<SignalEndpoint> m_signalling;
    std::unique_ptr<MessageService> m_frameMessages; // the frame buffers' boxes, from the camera thread
    std::unique_ptr<FrameBuffers> m_frames;
    VideoReceiver* m_videoReceiver = nullptr; // a child
    std::unique_ptr<UdpDatagramSink> m_videoSink;
    std::unique_ptr<VideoSender> m_videoSender;
    std::unique_ptr<RingTimer> m_ringTimer;
    std::unique_ptr<RingTonePlayer> m_ringTone;
    std::unique_ptr<CallNotifier> m_notifier;      // null without desktop notifications
    std::unique_ptr<ServicePublisher> m_publisher; // null until the settings are read, or without DNS-SD
    QTimer* m_peerCheck = nullptr;                 // a child; runs checkPeerActivity every second
    PeerLink* m_link = nullptr;                    // a child: the link to a Talvora peer on UDP 6768
    std::optional<CallMonitor> m_monitor;          // during a call
    QElapsedTimer m_callClock;
    quint64 m_reportsFromPeer = 0;
    std::optional<LinkReport> m_lastReport;
    VideoReceiver::Counters m_picturesAtCallStart;
    std::pair<quint64, quint64> m_sentAtCallStart;    // pictures and packets
    std::pair<quint64, quint64> m_sentWhenReported{}; // this call's, when the last report came
    bool m_peerEnded = false;                         // the peer hung up, or went away: it is told nothing
    // The call's privacy: the phone's identity and the peers the user verified (from start()), the
    // privacy of the call in progress, and the guards its media go through (made when the call's
    // voice or pictures are about to start, holding everything until the privacy is known).
    voice::SteadyClock m_secureClock;
    std::unique_ptr<IdentityKey> m_identity;
    std::unique_ptr<VerifiedPeers> m_verifiedPeers;
    PrivateCall* m_private = nullptr; // a child, during a call
    bool m_privateCallsOnly = false;  // the setting: a call that cannot be private is refused
    std::shared_ptr<PendingGuard> m_voiceGuard;
    std::shared_ptr<PendingGuard> m_pictureGuard;
    bool m_callLineShown = false; // the status line says how the last call ended
    std::unique_ptr<SliderLevelVoiceFactory> m_voice;
    PhoneCapture* m_capture;
    SpeakerVolumeWorker m_speaker;
    std::unique_ptr<CallSession> m_call; // last: it goes first and talks to all of the above

    QString m_localAddress;
    QString m_hostText = hostPlaceholderText();
    QString m_videoHost;             // the video sink's host, set when a call connects
    int m_micVolume = 0;             // as read from the settings
    int m_micLevel = 0;              // the level in use
    int m_savedMicLevel = 0;         // the level muting put aside
    int m_micPosition = 0;           // where the microphone slider stands
    bool m_micPositionKnown = false; // loaded into the slider, or moved by the user
    std::atomic<int> m_jpegQuality = 0;
    std::atomic<bool> m_sendingVideo = false;
    bool m_videoDestinationSet = false; // a call's peer is known: its pictures are shown
    mutable std::mutex m_destinationLock;
    QHostAddress m_videoDestination; // guarded by m_destinationLock
    // Held while the frame buffers convert a frame (camera thread) or change their format
    // (window thread); a frame that finds it taken is dropped, so the camera never waits.
    std::mutex m_framesLock;
    bool m_videoStarted = false;
};

} // namespace talvora
