#include "call/CallSession.h"

#include "base/Error.h"
#include "base/HostResolver.h"
#include "base/MessageService.h"
#include "base/NetworkConfig.h"
#include "call/CallView.h"
#include "call/CallingView.h"
#include "call/RingTimer.h"
#include "call/RingTonePlayer.h"
#include "call/SignalWire.h"
#include "call/UnansweredMessage.h"
#include "voice/VoiceSession.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <exception>
#include <utility>

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
    if (!m_parts.lookup) {
        m_parts.lookup = lookupHostIPv4;
    }
}

CallSession::~CallSession() = default;

void CallSession::resetState() {
    setState(CallState::Idle);
}

void CallSession::setState(CallState state) {
    const CallState from = std::exchange(m_state, state);
    ++m_stateChanges;
    if (m_parts.stateChanged) { // also Ringing to Ringing: a second caller
        m_parts.stateChanged(from, state);
    }
}

bool CallSession::letPendingEventsRun() {
    const quint64 before = m_stateChanges;
    m_parts.processEvents();
    return m_stateChanges != before;
}

// --- the Call control -------------------------------------------------------------------------

void CallSession::onCallClicked() {
    if (inCall()) {
        return;
    }
    if (m_parts.view.hostText() == hostPlaceholderText()) {
        m_parts.messages.information(QStringLiteral("Information"),
                                     QStringLiteral("Please enter a valid Hailing Frequency First."));
        m_parts.view.focusHost();
        return;
    }
    if (m_state == CallState::Unanswered && m_parts.view.hostText() != m_callerAddress) {
        // The ring ran out and the user typed another address: a new call, not a late answer.
        setState(CallState::Idle);
    }
    if (!incomingCall()) {
        // Busy from here on, even if the request cannot leave, until End.
        setState(CallState::Engaged);
        placeCall();
    } else {
        setState(ringing() ? CallState::Answering : CallState::ConnectedCallee);
        answerCall();
    }
}

bool CallSession::placing() const {
    return (m_state == CallState::Placing || m_state == CallState::PlacingAnswered) && !m_voice &&
           !m_calledAddress.isNull();
}

void CallSession::placeCall() {
    const QString host = m_parts.view.hostText();
    const quint64 attempt = ++m_placeAttempt;
    // The dialog gets its "Hailing..." state before the request leaves: a busy reply can come
    // back while pending messages run below, and it must not be overwritten.
    m_parts.callingView.startAnimation();
    m_parts.callingView.setStatusLine(hailingText());
    m_lookupPending = true;
    m_lookupAsync = false;
    m_parts.lookup(host, &m_lookupContext,
                   [this, attempt](const HostLookupResult& found) { hostLookedUp(attempt, found); });
    m_lookupAsync = m_lookupPending;
    if (m_lookupPending) {
        // A name: the dialog shows while the resolver works, and its Cancel withdraws a call
        // that has not left yet.
        m_parts.callingView.showModal();
        return;
    }
    if (!placing()) {
        return; // the request could not leave; the error was shown
    }
    // An "Accept" or a Cancel may already have ended the wait; then there is nothing to show.
    if (!letPendingEventsRun() || placing()) {
        m_parts.callingView.showModal();
    }
}

void CallSession::hostLookedUp(quint64 attempt, const HostLookupResult& found) {
    m_lookupPending = false;
    const bool answeredLater = m_lookupAsync; // the dialog shows meanwhile
    if (attempt != m_placeAttempt || m_state != CallState::Engaged || !m_calledAddress.isNull()) {
        return; // withdrawn or ended while the resolver worked
    }
    try {
        if (!found.error.isEmpty() || found.addresses.isEmpty()) {
            throw Error(found.error.isEmpty() ? QStringLiteral("Host not found") : found.error);
        }
        m_calledAddresses = found.addresses;
        m_calledAddress = found.addresses.first();
        setState(CallState::Placing);
        sendTo(m_calledAddress.toString(), callRequestPayload(m_settings.callerId));
    } catch (const std::exception& e) {
        // The phone stays engaged until End, as after any failed placement.
        m_calledAddress.clear();
        m_calledAddresses.clear();
        if (m_state == CallState::Placing || m_state == CallState::PlacingAnswered) {
            setState(CallState::Engaged);
        }
        m_parts.callingView.stopAnimation();
        if (answeredLater) {
            m_parts.callingView.closeDialog();
        }
        m_parts.messages.error(QStringLiteral("Error"), errorText(e));
        m_parts.view.focusHost();
    }
}

void CallSession::answerCall() {
    m_parts.ringTimer.setEnabled(false);
    stopRingTone();
    if (letPendingEventsRun() && (!incomingCall() || !inCall())) {
        // The caller withdrew, or End dropped the waiting call, while messages ran: there is no
        // call left to answer (and a newer caller may ring now).
        if (inCall()) {
            setState(CallState::Idle);
        }
        return;
    }
    // The answer goes to the caller that rang, whatever the address box holds by now.
    const QString host = m_callerAddress;
    VoiceSession* session = nullptr;
    try {
        session = replaceVoiceSession(host);
        sendTo(host, acceptPayload());
    } catch (...) {
        // Leave the ring so that End can clear the half-answered call (and its voice session).
        setState(ringStopped(m_state));
        throw;
    }
    letPendingEventsRun();
    if (m_voice.get() != session) {
        return; // ended while messages ran
    }
    session->start();
    m_parts.view.setVideoDestination(host);
    m_sendVideo = true;
    setState(ringStopped(m_state));
}

// --- End, the ring timer and the calling dialog's Cancel --------------------------------------

void CallSession::onEndClicked() {
    if (ringing()) {
        return;
    }
    setState(CallState::Idle);
    m_calledAddress.clear();
    m_calledAddresses.clear();
    m_parts.view.setCallerLine({});
    m_sendVideo = false;

    std::unique_ptr<VoiceSession> session = std::move(m_voice);
    std::exception_ptr stopError;
    if (session) {
        try {
            session->stop();
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
    setState(ringStopped(m_state));
    stopRingTone();
    // The message goes to the caller whose ring ran out, even if a newer request replaces the
    // host field while messages run.
    const QString caller = m_callerAddress;
    const quint64 ring = m_ringGeneration;
    letPendingEventsRun();
    if (inCall()) {
        return; // answered meanwhile
    }
    if (ring == m_ringGeneration && !incomingCall()) {
        return; // withdrawn or dropped meanwhile
    }
    sendTo(caller, unansweredPayload());
}

void CallSession::onCancelClicked() {
    try {
        m_parts.ringTimer.setEnabled(false);
        setState(callLeft(m_state));
        const QHostAddress called = std::exchange(m_calledAddress, {});
        m_calledAddresses.clear();
        // Nothing has left while the dialled name was being looked up.
        if (!called.isNull()) {
            sendTo(called.toString(), cancelPayload());
        } else if (!m_lookupPending) {
            sendTo(m_parts.view.hostText(), cancelPayload());
        }
        letPendingEventsRun();
    } catch (const std::exception&) {
        // Withdrawing never reports: the dialog closes all the same.
    }
    m_parts.callingView.closeDialog();
}

// --- datagrams --------------------------------------------------------------------------------

void CallSession::callRequestReceived(const QString& callerId, const QString& sender) {
    if (inCall()) {
        sendTo(sender, unansweredPayload());
        return;
    }
    m_parts.view.flashTaskbar();
    m_callerAddress = sender;
    m_callerId = callerId;
    setState(CallState::Ringing);
    m_parts.view.setHostText(sender);
    const quint64 ring = ++m_ringGeneration;
    const bool changed = letPendingEventsRun();
    if (ring != m_ringGeneration) {
        return; // a newer request rang meanwhile and finished the ring itself
    }
    const bool answered = m_state == CallState::Answering || m_state == CallState::ConnectedCallee;
    if (changed && !ringing() && !answered) {
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
    letPendingEventsRun();
}

void CallSession::acceptReceived(const QString& sender) {
    // Only the peer we are calling may start the call, and only while we wait for its answer:
    // an "Accept" at any other time or from anyone else would open the microphone towards a
    // stranger.
    const QHostAddress from(sender);
    const bool fromCalled =
        std::any_of(m_calledAddresses.cbegin(), m_calledAddresses.cend(),
                    [&](const QHostAddress& a) { return from.isEqual(a, QHostAddress::TolerantConversion); });
    if (!placing() || !fromCalled) {
        return;
    }
    VoiceSession* session = replaceVoiceSession(sender);
    setState(CallState::ConnectedCaller);
    m_parts.callingView.closeDialog();
    letPendingEventsRun();
    if (m_voice.get() != session) {
        return; // ended while messages ran
    }
    session->start();
    // Pictures go to the address that answered, looked up once for the whole call.
    bool isV4 = false;
    const quint32 v4 = from.toIPv4Address(&isV4);
    m_parts.view.setVideoDestination(isV4 ? QHostAddress(v4).toString() : sender);
    m_sendVideo = true;
}

void CallSession::cancelReceived(const QString& sender) {
    if (sender != m_callerAddress) {
        return;
    }
    setState(callerWithdrew(m_state, m_voice != nullptr));
    m_parts.ringTimer.setEnabled(false);
    m_parts.view.setCallerLine({});
    const quint64 ring = m_ringGeneration;
    letPendingEventsRun();
    if (ring == m_ringGeneration) {
        stopRingTone(); // unless a newer caller's tone plays now
    }
}

void CallSession::statusTextReceived(const QString& text) {
    // Only a call being placed waits for an answer; any other text is a stranger's junk and
    // costs nothing more.
    if (m_state == CallState::Placing) {
        setState(CallState::PlacingAnswered);
    } else if (m_state != CallState::PlacingAnswered) {
        return;
    }
    m_parts.callingView.stopAnimation();
    m_parts.callingView.setStatusLine(text);
}

// --- helpers ----------------------------------------------------------------------------------

VoiceSession* CallSession::replaceVoiceSession(const QString& remote) {
    if (m_voice) {
        // Pictures stop with the voice they belonged to, until the new call turns them on.
        m_sendVideo = false;
        std::unique_ptr<VoiceSession> old = std::move(m_voice);
        try {
            old->stop();
        } catch (const std::exception&) {
            // The old session is going away; its engine is released by the destructor anyway.
        }
    }
    std::unique_ptr<VoiceSession> session = m_parts.voice.create();
    session->setTransmitPort(kVoicePort);
    session->setReceivePort(kVoicePort);
    session->setRemoteAddress(remote);
    // Voice leaves from the address the peer reached us on: it takes voice from no other.
    if (const QHostAddress local = m_parts.sender.localAddressFor(QHostAddress(remote)); !local.isNull()) {
        session->setLocalAddress(local.toString());
    }
    m_voice = std::move(session);
    return m_voice.get();
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
