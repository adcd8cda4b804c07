#include "call/CallSession.h"

#include "call/CallView.h"
#include "call/CallingView.h"
#include "base/HostResolver.h"
#include "call/RingTimer.h"
#include "call/RingTonePlayer.h"
#include "call/SignalWire.h"
#include "call/UnansweredMessage.h"
#include "base/Error.h"
#include "base/MessageService.h"
#include "base/NetworkConfig.h"
#include "voice/VoiceSession.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <exception>

namespace talvora {

namespace {

QString hailingText() {
    return QStringLiteral("Hailing...");
}

QString errorText(const std::exception& e) {
    if (const auto* err = dynamic_cast<const Error*>(&e)) {
        return err->text();
    }
    return QString::fromUtf8(e.what());
}

} // namespace

CallSession::CallSession(CallSessionParts parts) : m_parts(std::move(parts)) {
    if (!m_parts.processEvents) {
        m_parts.processEvents = [] { QCoreApplication::processEvents(); };
    }
    if (!m_parts.resolve) {
        m_parts.resolve = resolveIPv4;
    }
}

CallSession::~CallSession() = default;

void CallSession::resetState() {
    FInCall = false;
    FRinging = false;
    FIncomingCall = false;
}

// --- the Call control -------------------------------------------------------------------------

void CallSession::onCallClicked() {
    if (FInCall) {
        return;
    }
    if (m_parts.view.hostText() == hostPlaceholderText()) {
        m_parts.messages.information(QStringLiteral("Information"),
                                     QStringLiteral("Please enter a valid Hailing Frequency First."));
        m_parts.view.focusHost();
        return;
    }
    FInCall = true;
    if (!FIncomingCall) {
        placeCall();
    } else {
        answerCall();
    }
}

bool CallSession::placing() const {
    return FInCall && !FIncomingCall && !FVoiceSession && !m_calledAddress.isNull();
}

void CallSession::placeCall() {
    const QString host = m_parts.view.hostText();
    try {
        m_calledAddress = m_parts.resolve(host);
        // The dialog gets its "Hailing..." state before the request leaves: a busy reply can
        // come back while pending messages run below, and it must not be overwritten.
        m_parts.callingView.startAnimation();
        m_parts.callingView.setStatusLine(hailingText());
        sendTo(m_calledAddress.toString(), callRequestPayload(m_settings.callerId));
        m_parts.processEvents();
        // An "Accept" or a Cancel may already have ended the wait; then there is nothing to show.
        if (placing()) {
            m_parts.callingView.showModal();
        }
    } catch (const std::exception& e) {
        // FInCall stays set: the phone stays engaged until End, as after any failed placement.
        m_calledAddress.clear();
        m_parts.callingView.stopAnimation();
        m_parts.messages.error(QStringLiteral("Error"), errorText(e));
        m_parts.view.focusHost();
    }
}

void CallSession::answerCall() {
    m_parts.ringTimer.setEnabled(false);
    stopRingTone();
    m_parts.processEvents();
    if (!FIncomingCall || !FInCall) {
        // The caller withdrew, or End dropped the waiting call, while messages ran: there is no
        // call left to answer.
        FInCall = false;
        return;
    }
    const QString host = m_parts.view.hostText();
    VoiceSession* session = nullptr;
    try {
        session = replaceVoiceSession(host);
        sendTo(host, acceptPayload());
    } catch (...) {
        // Leave the ring so that End can clear the half-answered call (and its voice session).
        FRinging = false;
        throw;
    }
    m_parts.processEvents();
    if (FVoiceSession.get() != session) {
        return; // ended while messages ran
    }
    session->Start();
    m_parts.view.setVideoDestination(host);
    FSendVideo = true;
    FRinging = false;
}

// --- End, the ring timer and the calling dialog's Cancel --------------------------------------

void CallSession::onEndClicked() {
    if (FRinging) {
        return;
    }
    FInCall = false;
    FRinging = false;
    FIncomingCall = false;
    m_calledAddress.clear();
    m_parts.view.setCallerLine({});
    FSendVideo = false;

    std::unique_ptr<VoiceSession> session = std::move(FVoiceSession);
    std::exception_ptr stopError;
    if (session) {
        try {
            session->Stop();
        } catch (...) {
            stopError = std::current_exception();
        }
        session.reset();
    }
    m_parts.view.showIdlePicture();
    if (stopError) {
        std::rethrow_exception(stopError);
    }
}

void CallSession::onRingTimeout() {
    m_parts.ringTimer.setEnabled(false);
    m_parts.view.setCallerLine({});
    FRinging = false;
    stopRingTone();
    // The message goes to the caller whose ring ran out, even if a newer request replaces the
    // host field while messages run.
    const QString caller = m_parts.view.hostText();
    const quint64 ring = m_ringGeneration;
    m_parts.processEvents();
    if (FInCall) {
        return; // answered meanwhile
    }
    if (ring == m_ringGeneration && !FIncomingCall) {
        return; // withdrawn or dropped meanwhile
    }
    sendTo(caller, unansweredPayload());
}

void CallSession::onCancelClicked() {
    try {
        m_parts.ringTimer.setEnabled(false);
        FInCall = false;
        m_calledAddress.clear();
        sendTo(m_parts.view.hostText(), cancelPayload());
        m_parts.processEvents();
    } catch (const std::exception&) {
        // Withdrawing never reports: the dialog closes all the same.
    }
    m_parts.callingView.closeDialog();
}

// --- datagrams --------------------------------------------------------------------------------

void CallSession::callRequestReceived(const QString& callerId, const QString& sender) {
    if (FInCall) {
        sendTo(sender, unansweredPayload());
        return;
    }
    m_parts.view.flashTaskbar();
    FRinging = true;
    FIncomingCall = true;
    m_parts.view.setHostText(sender);
    const quint64 ring = ++m_ringGeneration;
    m_parts.processEvents();
    if (ring != m_ringGeneration) {
        return; // a newer request rang meanwhile and finished the ring itself
    }
    const bool answered = FInCall && FIncomingCall;
    if (!FRinging && !answered) {
        return; // withdrawn meanwhile
    }
    m_parts.view.setCallerLine(callerId + QStringLiteral(" hailing..."));
    if (answered) {
        return;
    }
    m_parts.ringTimer.setInterval(m_settings.ringTimeMs);
    m_parts.ringTimer.setEnabled(true);
    if (!m_settings.ringTone.isEmpty() && QFileInfo(m_settings.ringTone).isFile()) {
        m_parts.ringTone.close();
        m_parts.ringTone.open(m_settings.ringTone);
        m_parts.ringTone.playFromStart();
    }
    m_parts.processEvents();
}

void CallSession::acceptReceived(const QString& sender) {
    // Only the peer we are calling may start the call, and only while we wait for its answer:
    // an "Accept" at any other time or from anyone else would open the microphone towards a
    // stranger.
    if (!placing() || !QHostAddress(sender).isEqual(m_calledAddress, QHostAddress::TolerantConversion)) {
        return;
    }
    VoiceSession* session = replaceVoiceSession(sender);
    m_parts.callingView.closeDialog();
    m_parts.processEvents();
    if (FVoiceSession.get() != session) {
        return; // ended while messages ran
    }
    session->Start();
    m_parts.view.setVideoDestination(m_parts.view.hostText());
    FSendVideo = true;
}

void CallSession::cancelReceived(const QString& sender) {
    if (sender != m_parts.view.hostText()) {
        return;
    }
    FIncomingCall = false;
    FRinging = false;
    m_parts.ringTimer.setEnabled(false);
    m_parts.view.setCallerLine({});
    const quint64 ring = m_ringGeneration;
    m_parts.processEvents();
    if (ring == m_ringGeneration) {
        stopRingTone(); // unless a newer caller's tone plays now
    }
}

void CallSession::statusTextReceived(const QString& text) {
    m_parts.callingView.stopAnimation();
    m_parts.callingView.setStatusLine(text);
}

// --- helpers ----------------------------------------------------------------------------------

VoiceSession* CallSession::replaceVoiceSession(const QString& remote) {
    if (FVoiceSession) {
        // Pictures stop with the voice they belonged to, until the new call turns them on.
        FSendVideo = false;
        std::unique_ptr<VoiceSession> old = std::move(FVoiceSession);
        try {
            old->Stop();
        } catch (const std::exception&) {
            // The old session is going away; its engine is released by the destructor anyway.
        }
    }
    std::unique_ptr<VoiceSession> session = m_parts.voice.create();
    session->SetTransmitPort(kVoicePort);
    session->SetReceivePort(kVoicePort);
    session->SetRemoteAddress(remote);
    FVoiceSession = std::move(session);
    return FVoiceSession.get();
}

void CallSession::stopRingTone() {
    if (!m_settings.ringTone.isEmpty() && m_parts.ringTone.isPlaying()) {
        m_parts.ringTone.stop();
    }
}

void CallSession::sendTo(const QString& host, const QByteArray& payload) {
    m_parts.sender.send(host, payload);
}

QByteArray CallSession::unansweredPayload() const {
    return statusTextPayload(usableUnansweredMessage(m_settings.unansweredMessage));
}

} // namespace talvora
