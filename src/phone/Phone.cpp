#include "phone/Phone.h"

#include "contacts/ServicePublisher.h"
#include "phone/CallNotifier.h"
#include "phone/MainThreadMessages.h"

#include "base/LocalAddress.h"
#include "base/MessageService.h"
#include "call/CallSession.h"
#include "call/RingTimer.h"
#include "call/RingTonePlayer.h"
#include "call/SignalEndpoint.h"
#include "call/UnansweredMessage.h"
#include "convert/FrameBuffers.h"
#include "phone/PhoneCapture.h"
#include "phone/SliderLevelVoice.h"
#include "transport/UdpDatagramSink.h"
#include "transport/VideoReceiver.h"
#include "transport/VideoSender.h"
#include "voice/SpeakerVolume.h"
#include "voice/SpeakerVolumeWorker.h"
#include "voice/VoiceSession.h"

#include <QCoreApplication>
#include <QTimer>

namespace talvora {

namespace {

// Where the speaker slider stands when the output has no volume control to read.
constexpr int kSpeakerMiddle = 32767;

} // namespace

Phone::Phone(PhoneServices services, PhoneCapture* capture, QObject* parent)
    : QObject(parent), m_services(std::move(services)), m_store(m_services.config.settingsPath()),
      m_signalling(std::make_unique<SignalEndpoint>(m_services.network, m_services.messages)),
      m_frameMessages(std::make_unique<MainThreadMessages>(m_services.messages)),
      m_frames(std::make_unique<FrameBuffers>(*m_frameMessages)),
      m_videoReceiver(new VideoReceiver(m_services.network, kVideoPort, this)),
      m_videoSink(std::make_unique<UdpDatagramSink>(m_services.network)),
      m_videoSender(std::make_unique<VideoSender>(
          static_cast<VideoSendState&>(*this), *m_videoSink,
          [this](const QString& text) {
              QMetaObject::invokeMethod(
                  this,
                  [this, text] { m_services.messages.information(QStringLiteral("Information"), text); },
                  Qt::QueuedConnection);
          })),
      m_ringTimer(m_services.ringTimers()), m_ringTone(m_services.ringTones()),
      m_voice(std::make_unique<SliderLevelVoiceFactory>(m_services.voice, [this] { return m_micPosition; })),
      m_capture(capture), m_speaker(m_services.speaker) {
    m_voice->setNoticeHandler([this](const QString& text) { showNotice(text); });
    connect(m_videoReceiver, &VideoReceiver::firstPeer, this,
            [this](const QString& peer) { setHostText(peer); });
    connect(m_videoReceiver, &VideoReceiver::pictureReceived, this, [this](const QImage& picture) {
        ++m_picturesFromPeer;
        emit pictureReceived(picture);
    });
    m_peerCheck = new QTimer(this);
    m_peerCheck->setInterval(1000);
    connect(m_peerCheck, &QTimer::timeout, this, &Phone::checkPeerActivity);
    m_peerCheck->start();
    if (m_services.notifiers) {
        m_notifier = m_services.notifiers();
        // Answer does what Call does while the call rings; Decline sends the unanswered message
        // at once, as if the ring time had run out.
        connect(m_notifier.get(), &CallNotifier::answerRequested, this, [this] {
            if (m_call && m_call->incomingCall() && !m_call->inCall()) {
                call();
                emit windowRaiseRequested();
            }
        });
        connect(m_notifier.get(), &CallNotifier::declineRequested, this, [this] {
            if (m_call && m_call->state() == CallState::Ringing) {
                ringTimeout();
            }
        });
        connect(m_notifier.get(), &CallNotifier::raiseRequested, this, &Phone::windowRaiseRequested);
    }
}

Phone::~Phone() {
    detachCallSession();
}

void Phone::attachCallingView(CallingView& calling) {
    m_call = std::make_unique<CallSession>(CallSessionParts{
        .sender = *m_signalling,
        .voice = *m_voice,
        .ringTimer = *m_ringTimer,
        .ringTone = *m_ringTone,
        .view = *this,
        .callingView = calling,
        .messages = m_services.messages,
        .lookup = m_services.lookup,
        .stateChanged = [this](CallState from, CallState to) { callStateChanged(from, to); },
    });
    m_signalling->setHandler(m_call.get());
    m_ringTimer->setTimeoutHandler([this] { ringTimeout(); });
}

void Phone::callStateChanged(CallState from, CallState to) {
    // Other phones see us busy while a call lasts.
    if (m_publisher) {
        m_publisher->setBusy(isInCall(to));
    }
    if (m_notifier) {
        m_notifier->followCallState(from, to, m_call->callerId());
    }
}

void Phone::detachCallSession() {
    if (m_call) {
        m_signalling->setHandler(nullptr);
        m_ringTimer->setTimeoutHandler({});
        m_call.reset();
    }
}

void Phone::start() {
    runGuarded(m_services.messages, [this] {
        m_localAddress =
            m_services.network.isBound() ? m_services.network.bindAddress.toString() : GetLocalIPAddress();
        emit localAddressChanged(m_localAddress);
        loadSettings();
        if (m_call) {
            m_call->resetState(); // no call, no ringing, no incoming call
        }
        m_signalling->open();
        m_jpegQuality = 100;
        emit started(m_micVolume);
        // The speaker slider follows when the sound server has answered.
        m_speaker.read([this](const SpeakerVolumeReading& speaker) {
            emit speakerVolumeRead(speaker.ok ? speaker.left : kSpeakerMiddle);
        });
        // The slider clamps the level to its range; the level itself stays as read.
        m_micLevel = m_micVolume;
        startVideo();
    });
}

void Phone::loadSettings() {
    QStringList problems;
    PhoneSettings s = m_store.load(m_localAddress, problems);
    // A keyword would be read as a call signal and is replaced now; an empty message stays as
    // the file has it (stored files rely on that) and goes out as "Unanswered".
    if (!s.unansweredMessage.isEmpty()) {
        s.unansweredMessage = usableUnansweredMessage(s.unansweredMessage);
    }
    if (m_call) {
        m_call->settings() = s;
    }
    m_micVolume = s.micVolume;
    if (m_services.publishers && !m_publisher) {
        m_publisher = m_services.publishers(s.callerId);
    }
    for (const QString& problem : problems) {
        showStandardError(m_services.messages, problem);
    }
}

PhoneSettings Phone::settings() const {
    PhoneSettings s = m_call ? m_call->settings() : PhoneSettings{};
    s.micVolume = m_micVolume;
    return s;
}

void Phone::applySettings(const PhoneSettings& settings) {
    if (m_call) {
        PhoneSettings& s = m_call->settings();
        s.ringTone = settings.ringTone;
        s.ringTimeMs = settings.ringTimeMs;
        s.unansweredMessage = settings.unansweredMessage;
        s.callerId = settings.callerId;
    }
    if (m_publisher) {
        m_publisher->setCallerId(settings.callerId);
    }
}

void Phone::startVideo() {
    m_videoStarted = false;
    try {
        if (m_capture) {
            m_capture->startPreview();
            const std::lock_guard frames(m_framesLock);
            m_frames->initFrameBuffers(m_capture->formatSource());
        }
        m_videoStarted = true;
    } catch (const std::exception& e) {
        // Without a camera the phone still calls and still shows the caller's pictures.
        const auto* error = dynamic_cast<const Error*>(&e);
        m_services.messages.error(QStringLiteral("Error"),
                                  error != nullptr ? error->text() : QString::fromUtf8(e.what()));
    }
    try {
        m_videoReceiver->open();
    } catch (const Error& e) {
        // A taken video port is no camera fault: say what it is.
        m_services.messages.error(QStringLiteral("Error"), e.text());
    }
}

void Phone::stopVideo() {
    if (m_videoStarted) {
        const std::lock_guard frames(m_framesLock);
        m_frames->freeFrameBuffers();
    }
    if (m_capture) {
        m_capture->stopCapture();
    }
}

void Phone::shutDown() {
    try {
        // A start-up that stopped before the slider showed the loaded level must not save the
        // slider's untouched 0 over the user's level.
        if (m_micPositionKnown) {
            m_store.saveMicVolume(m_micPosition);
        }
        stopVideo();
    } catch (const Error& e) {
        m_services.messages.error(applicationTitle(), e.text());
    } catch (const std::exception& e) {
        m_services.messages.error(applicationTitle(), QString::fromUtf8(e.what()));
    }
}

QImage Phone::frameArrived(const uchar* data, qsizetype size) {
    QImage picture;
    {
        const std::unique_lock frames(m_framesLock, std::try_to_lock);
        if (!frames.owns_lock()) {
            return {}; // the format is being changed: this frame may be in the old one
        }
        picture = m_frames->frameToBitmap(data, size);
    }
    if (!picture.isNull()) {
        m_videoSender->sendFrame(picture); // nothing is encoded outside a call
    }
    return picture;
}

void Phone::readCaptureFormat() {
    // Reached from the video options dialog: a camera that went away meanwhile is an error box,
    // not the end of the program.
    if (m_capture) {
        runGuarded(m_services.messages, [this] {
            const std::lock_guard frames(m_framesLock);
            m_frames->readCaptureFormat(m_capture->formatSource());
        });
    }
}

void Phone::call() {
    if (m_call) {
        runGuarded(m_services.messages, [this] { m_call->onCallClicked(); });
    }
}

void Phone::end() {
    if (m_call) {
        runGuarded(m_services.messages, [this] { m_call->onEndClicked(); });
    }
}

void Phone::ringTimeout() {
    if (m_call) {
        runGuarded(m_services.messages, [this] { m_call->onRingTimeout(); });
    }
}

void Phone::toggleMute() {
    if (!m_call || m_call->voiceSession() == nullptr) {
        return; // nothing to mute without a call
    }
    if (m_micLevel != 0) {
        m_savedMicLevel = m_micPosition;
        m_micLevel = 0;
        emit micSliderRequested(0);
    } else {
        m_micLevel = m_savedMicLevel;
        emit micSliderRequested(m_micLevel);
    }
}

void Phone::setMicLevel(int position) {
    m_micPosition = position;
    m_micPositionKnown = true;
    m_micLevel = position;
    if (VoiceSession* voice = m_call ? m_call->voiceSession() : nullptr) {
        voice->setMicLevel(position);
    }
}

void Phone::setSpeakerVolume(int position) {
    // A device without volume control is left alone.
    const quint32 p = quint32(position);
    m_speaker.write(p + p * 65536u);
}

void Phone::hostEdited(const QString& text) {
    m_hostText = text;
}

void Phone::showNotice(const QString& text) {
    emit statusText(text);
}

void Phone::setHostText(const QString& text) {
    m_hostText = text;
    emit hostTextChanged(text);
}

void Phone::focusHost() {
    emit hostFocusRequested();
}

void Phone::setCallerLine(const QString& text) {
    emit callerIdText(text);
}

void Phone::showIdlePicture() {
    // The call is over: pictures from anyone are shown again.
    m_videoReceiver->acceptOnlyFrom({});
    emit idlePictureRequested();
}

void Phone::flashTaskbar() {
    emit attentionRequested();
}

void Phone::setVideoDestination(const QString& host) {
    m_videoHost = host;
    {
        const std::lock_guard lock(m_destinationLock);
        m_videoDestination = QHostAddress(host);
    }
    // During the call only the peer's pictures are decoded: a stranger's flood costs nothing.
    m_videoReceiver->acceptOnlyFrom(QHostAddress(host));
    // Pictures leave from the address the peer reached us on, as the signalling replies do.
    m_videoSink->setSource(m_signalling->localAddressFor(QHostAddress(host)));
}

QHostAddress Phone::videoDestination() const {
    const std::lock_guard lock(m_destinationLock);
    return m_videoDestination;
}

void Phone::checkPeerActivity() {
    VoiceSession* voice = m_call ? m_call->voiceSession() : nullptr;
    if (voice == nullptr || !m_call->inCall()) {
        // No call: nothing to miss. A notice still up goes with the call.
        if (m_peerSilenceShown) {
            m_peerSilenceShown = false;
            emit statusText(QString());
        }
        m_silentSeconds = 0;
        return;
    }
    const quint64 activity = m_picturesFromPeer + voice->packetsHeard();
    if (activity != m_activityAtLastCheck) {
        m_activityAtLastCheck = activity;
        m_silentSeconds = 0;
        if (m_peerSilenceShown) {
            m_peerSilenceShown = false;
            emit statusText(QString());
        }
        return;
    }
    // The call goes on until End, as ever; the user is only told that nothing arrives.
    if (++m_silentSeconds == kPeerSilenceSeconds) {
        m_peerSilenceShown = true;
        emit statusText(QStringLiteral("No pictures or voice from %1 for %2 s")
                            .arg(m_videoHost)
                            .arg(kPeerSilenceSeconds));
    }
}

} // namespace talvora
