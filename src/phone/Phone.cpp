#include "phone/Phone.h"

#include "contacts/ServicePublisher.h"
#include "phone/CallMonitor.h"
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
#include "link/PeerLink.h"
#include "phone/PhoneCapture.h"
#include "phone/SliderLevelVoice.h"
#include "secure/SealedDatagram.h"
#include "transport/UdpDatagramSink.h"
#include "transport/VideoReceiver.h"
#include "transport/VideoSender.h"
#include "voice/SpeakerVolume.h"
#include "voice/SpeakerVolumeWorker.h"
#include "voice/VoiceSession.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
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
      m_voice(std::make_unique<SliderLevelVoiceFactory>(
          m_services.voice, [this] { return m_micPosition; }, [this] { return callGuards(); })),
      m_capture(capture), m_speaker(m_services.speaker) {
    m_voice->setNoticeHandler([this](const QString& text) { showNotice(text); });
    connect(m_videoReceiver, &VideoReceiver::firstPeer, this,
            [this](const QString& peer) { setHostText(peer); });
    // Outside a call nobody's pictures are shown: a stranger cannot put a picture on an idle
    // phone's screen, and a picture still on its way when the call ended is dropped.
    m_videoReceiver->acceptNobody();
    connect(m_videoReceiver, &VideoReceiver::pictureReceived, this, [this](const QImage& picture) {
        if (m_videoDestinationSet) {
            emit pictureReceived(picture);
        }
    });
    m_link = new PeerLink(m_services.network, kLinkReports | kLinkHangUp | kLinkPrivateCalls, this);
    connect(m_link, &PeerLink::hangUpReceived, this, &Phone::peerHungUp);
    connect(m_link, &PeerLink::peerIsTalvora, this, [this](quint32 capabilities) {
        if (m_private != nullptr) {
            m_private->peerIsTalvora(capabilities);
        }
    });
    connect(m_link, &PeerLink::peerIsOlder, this, [this] {
        if (m_private != nullptr) {
            m_private->peerIsOlder();
        }
    });
    connect(m_link, &PeerLink::messageReceived, this, [this](quint8 type, const QByteArray& payload) {
        if (m_private != nullptr) {
            m_private->messageReceived(type, payload);
        }
    });
    connect(m_link, &PeerLink::reportReceived, this, [this](const LinkReport& report) {
        ++m_reportsFromPeer;
        m_lastReport = report;
        // What had left for the peer when its report came: what it could have received, but
        // for the few pictures on their way.
        m_sentWhenReported = {m_videoSender->picturesSent() - m_sentAtCallStart.first,
                              m_videoSender->packetsSent() - m_sentAtCallStart.second};
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
        loadIdentity();
        if (m_call) {
            m_call->resetState(); // no call, no ringing, no incoming call
        }
        m_signalling->open();
        // Without its own port the phone still calls, as an older phone does.
        if (m_services.network.linkPort && !m_link->open()) {
            qWarning("talvora: UDP port %d is taken: calls go without reports, hang-up and privacy",
                     kLinkPort);
        }
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
    m_privateCallsOnly = s.privateCallsOnly;
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
        s.privateCallsOnly = settings.privateCallsOnly;
    }
    m_privateCallsOnly = settings.privateCallsOnly;
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
    endLinkedCall();
    // The call is over: nobody's pictures are shown, the idle picture stays.
    m_videoReceiver->acceptNobody();
    m_videoDestinationSet = false;
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
    m_videoDestinationSet = true;
    beginLinkedCall(QHostAddress(host));
    // Pictures leave from the address the peer reached us on, as the signalling replies do.
    m_videoSink->setSource(m_signalling->localAddressFor(QHostAddress(host)));
}

QHostAddress Phone::videoDestination() const {
    const std::lock_guard lock(m_destinationLock);
    return m_videoDestination;
}

QString Phone::peerName() const {
    // The caller is known by its caller ID; a callee by what the user dialled.
    if (m_call && m_call->state() == CallState::ConnectedCallee && !m_call->callerId().isEmpty()) {
        return m_call->callerId();
    }
    if (m_call && m_call->state() == CallState::ConnectedCaller && !m_hostText.isEmpty()) {
        return m_hostText;
    }
    return videoDestination().toString();
}

std::shared_ptr<DatagramGuard> Phone::callGuards() {
    // Made for the call about to start, before any of its voice or pictures can go out.
    if (!m_voiceGuard) {
        m_voiceGuard = std::make_shared<PendingGuard>(kMaxSealedVoicePlainBytes);
        m_pictureGuard = std::make_shared<PendingGuard>(kMaxSealedPicturePlainBytes);
        m_videoSender->setDatagramGuard(m_pictureGuard);
        m_videoReceiver->setDatagramGuard(m_pictureGuard);
    }
    return m_voiceGuard;
}

void Phone::loadIdentity() {
    if (m_identity) {
        return;
    }
    const QString dir = m_services.config.directory();
    m_services.config.ensureDirectory();
    IdentityLoad identity = loadOrCreateIdentity(QDir(dir).filePath(kIdentityFileName));
    m_identity = std::make_unique<IdentityKey>(std::move(identity.key));
    m_verifiedPeers = std::make_unique<VerifiedPeers>(QDir(dir).filePath(kVerifiedPeersFileName));
    const QString verifiedProblem = m_verifiedPeers->load();
    for (const QString& problem : {identity.problem, verifiedProblem}) {
        if (!problem.isEmpty()) {
            m_services.messages.warning(QStringLiteral("Private calls"), problem);
        }
    }
}

void Phone::beginLinkedCall(const QHostAddress& peer) {
    callGuards();
    if (m_private == nullptr && m_identity) {
        const bool caller = m_call && m_call->state() == CallState::ConnectedCaller;
        m_private = new PrivateCall(
            caller ? KeyAgreementRole::Initiator : KeyAgreementRole::Responder, peer.toString(),
            PrivateCallPolicy{.refusePlainCalls = m_privateCallsOnly},
            [this](quint8 type, const QByteArray& payload) { return m_link->send(LinkType(type), payload); },
            *m_identity, *m_verifiedPeers, m_secureClock, {}, this);
        connect(m_private, &PrivateCall::statusChanged, this, &Phone::privacyStatusChanged);
        m_voiceGuard->attach(m_private->voiceGuard());
        m_pictureGuard->attach(m_private->pictureGuard());
        privacyStatusChanged(m_private->status());
    }
    m_link->beginCall(peer, m_signalling->localAddressFor(peer));
    if (m_private != nullptr && !m_link->isOpen()) {
        m_private->peerIsOlder(); // without the link port this phone is an older phone
    }
    m_monitor.emplace(peerName());
    m_callClock.start();
    m_reportsFromPeer = 0;
    m_lastReport.reset();
    m_peerEnded = false;
    m_picturesAtCallStart = m_videoReceiver->counters();
    m_sentAtCallStart = {m_videoSender->picturesSent(), m_videoSender->packetsSent()};
    m_sentWhenReported = {0, 0};
    m_videoSender->setPathLoss(0);
    m_videoSender->setPeerHold(std::nullopt);
    if (m_callLineShown) {
        m_callLineShown = false;
        emit statusText(QString()); // the last call's "ended" line goes with it
    }
}

void Phone::endLinkedCall() {
    if (m_link->inCall()) {
        // A Talvora peer hears that the call is over, and stops sending its camera's pictures;
        // an older one is told nothing, as ever.
        if (!m_peerEnded && m_link->peerKind() == PeerLink::PeerKind::Talvora) {
            m_link->send(LinkType::HangUp);
        }
        m_link->endCall();
    }
    m_monitor.reset();
    // The next call has a privacy of its own. The voice session keeps its guard until its
    // threads stop; the picture threads drop theirs here.
    if (m_private != nullptr) {
        m_private->deleteLater(); // this may run inside its own signal
        m_private = nullptr;
        emit privacyChanged(QString(), false, false);
    }
    m_voiceGuard.reset();
    m_pictureGuard.reset();
    m_videoSender->setDatagramGuard(nullptr);
    m_videoReceiver->setDatagramGuard(nullptr);
}

void Phone::privacyStatusChanged(const PrivateCallStatus& status) {
    emit privacyChanged(privateCallText(status), privateCallWarns(status),
                        status.state == PrivateCallState::Encrypted && !status.verified);
    if (m_private != nullptr && m_private->mustEnd() && m_call && m_call->inCall()) {
        // This phone takes private calls only: a call that cannot be private ends at once, and
        // the line says why.
        endCallSaying(privateCallText(status));
    }
}

void Phone::endCallSaying(const QString& line) {
    end();
    m_callLineShown = true; // until the next call begins
    emit statusText(line);
}

void Phone::markPeerVerified() {
    if (m_private == nullptr) {
        return;
    }
    QString error;
    if (!m_private->markPeerVerified(peerName(), QDate::currentDate(), &error)) {
        m_services.messages.warning(QStringLiteral("Private calls"), error);
    }
}

void Phone::peerHungUp() {
    if (!m_call || !m_call->inCall()) {
        return;
    }
    const QString name = peerName();
    m_peerEnded = true;
    endCallSaying(QStringLiteral("%1 ended the call").arg(name)); // as if the user had pressed End
}

void Phone::checkPeerActivity() {
    if (!m_monitor) {
        return;
    }
    const VoiceSession* voice = m_call ? m_call->voiceSession() : nullptr;
    const VoiceNetworkStats heard = voice != nullptr ? voice->networkStats() : VoiceNetworkStats{};
    const VideoReceiver::Counters pictures = m_videoReceiver->counters();
    const auto kind = m_link->peerKind();
    CallMonitor::Sample sample{
        .nowMs = m_callClock.elapsed(),
        .peer = kind == PeerLink::PeerKind::Talvora ? CallMonitor::Peer::Talvora
                : kind == PeerLink::PeerKind::Older ? CallMonitor::Peer::Older
                                                    : CallMonitor::Peer::Unknown,
        // Every datagram from the peer is one picture that arrived whole, unless it failed to
        // open: a forgery from the peer's address is no picture of its.
        .picturesFromPeer = (pictures.datagrams - pictures.strangers - pictures.unopened) -
                            (m_picturesAtCallStart.datagrams - m_picturesAtCallStart.strangers -
                             m_picturesAtCallStart.unopened),
        .voiceHeard = heard.heard,
        .voiceExpected = heard.expected,
        .reportsFromPeer = m_reportsFromPeer,
        .lastReport = m_lastReport,
        .picturesSent = m_videoSender->picturesSent() - m_sentAtCallStart.first,
        .picturesSentAtReport = m_sentWhenReported.first,
        .packetsSentAtReport = m_sentWhenReported.second,
    };
    const CallMonitor::Decision decision = m_monitor->tick(sample);
    m_videoSender->setPathLoss(decision.pathLoss);
    if (decision.peerHold) {
        PeerHold hold = *decision.peerHold;
        hold.picturesCovered += m_sentAtCallStart.first; // as the sender counts
        m_videoSender->setPeerHold(hold);
    }
    if (decision.report) {
        m_link->send(LinkType::Report, encodeReport(*decision.report));
    }
    if (decision.statusLine) {
        emit statusText(*decision.statusLine);
    }
    if (decision.endCall) {
        m_peerEnded = true; // nobody there to tell
        endCallSaying(decision.statusLine.value_or(QString()));
    }
}

} // namespace talvora
