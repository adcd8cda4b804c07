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
    if (!m_parts.lookup) {
        m_parts.lookup = [](const QString& host, QObject* context, HostLookupDone done) {
            lookupHostIPv4(host, context, std::move(done));
        };
    }
}

CallSession::~CallSession() = default;

void CallSession::resetState() {
    setState(CallState::Idle);
}

void CallSession::setSendVideo(bool on) {
    m_sendVideo = on;
    m_parts.view.setSendingVideo(on);
}

void CallSession::setState(CallState state) {
    const CallState from = std::exchange(m_state, state);
    if (m_parts.stateChanged) { // also Ringing to Ringing: a second caller
        m_parts.stateChanged(from, state);
    }
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
        answerCall();
    }
}

bool CallSession::placing() const {
    return (m_state == CallState::Placing || m_state == CallState::PlacingAnswered) && !m_voice &&
           !m_calledAddress.isNull();
}

void CallSession::placeCall() {
    const QString host = m_parts.view.hostText();
    m_parts.callingView.startAnimation();
    m_parts.callingView.setStatusLine(hailingText());
    m_lookup = std::make_unique<QObject>();
    // A dotted address answers at once, inside this call; a name answers later, from the event
    // loop, while the dialog shows and its Cancel can withdraw a call that has not left yet.
    m_parts.lookup(host, m_lookup.get(), [this, context = m_lookup.get()](const HostLookupResult& found) {
        if (m_lookup.get() == context) {
            hostLookedUp(found);
        }
    });
    if (lookingUp() || m_state == CallState::Placing) {
        m_parts.callingView.showDialog();
    }
}

void CallSession::forgetLookup() {
    m_lookup.reset(); // its answer never comes
}

void CallSession::hostLookedUp(const HostLookupResult& found) {
    // The answer runs from inside its context's own slot: free that from the event loop.
    m_lookup.release()->deleteLater();
    if (m_state != CallState::Engaged) {
        return; // cannot happen: End and Cancel drop the lookup with its answer
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
        setState(CallState::Engaged);
        m_parts.callingView.stopAnimation();
        m_parts.callingView.closeDialog();
        m_parts.messages.error(QStringLiteral("Error"), errorText(e));
        m_parts.view.focusHost();
    }
}

void CallSession::answerCall() {
    m_parts.ringTimer.setEnabled(false);
    stopRingTone();
    // The answer goes to the caller that rang, whatever the address box holds by now.
    const QString host = m_callerAddress;
    setState(CallState::ConnectedCallee);
    VoiceSession* session = nullptr;
    try {
        session = replaceVoiceSession(host);
        sendTo(host, acceptPayload());
        session->start();
    } catch (...) {
        endCallAndRethrow(std::current_exception());
    }
    m_parts.view.setVideoDestination(host);
    setSendVideo(true);
}

void CallSession::endCallAndRethrow(std::exception_ptr error) {
    try {
        endCall();
    } catch (...) {
        // The first failure is the one the user needs to read.
    }
    std::rethrow_exception(error);
}

// --- End, the ring timer and the calling dialog's Cancel --------------------------------------

void CallSession::onEndClicked() {
    if (ringing()) {
        return;
    }
    endCall();
}

void CallSession::endCall() {
    setState(CallState::Idle);
    forgetLookup();
    m_calledAddress.clear();
    m_calledAddresses.clear();
    m_parts.view.setCallerLine({});
    setSendVideo(false);

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
    if (!ringing()) {
        return; // a tick that was on its way when the ring ended
    }
    m_parts.ringTimer.setEnabled(false);
    m_parts.view.setCallerLine({});
    setState(CallState::Unanswered);
    stopRingTone();
    // The message goes to the caller whose ring ran out.
    sendTo(m_callerAddress, unansweredPayload());
}

void CallSession::onCancelClicked() {
    try {
        m_parts.ringTimer.setEnabled(false);
        if (inCall() && !incomingCall()) {
            setState(CallState::Idle);
        }
        forgetLookup();
        m_calledAddresses.clear();
        // A call whose name is still being looked up has not left: there is no one to tell.
        if (const QHostAddress called = std::exchange(m_calledAddress, {}); !called.isNull()) {
            sendTo(called.toString(), cancelPayload());
        }
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
    m_parts.view.setCallerLine(callerId + QStringLiteral(" hailing..."));
    // A second request while the ring runs does not prolong it (same interval, timer running).
    m_parts.ringTimer.setInterval(m_settings.ringTimeMs);
    m_parts.ringTimer.setEnabled(true);
    if (!m_settings.ringTone.isEmpty() && QFileInfo(m_settings.ringTone).isFile()) {
        m_parts.ringTone.close();
        m_parts.ringTone.open(m_settings.ringTone);
        m_parts.ringTone.playFromStart();
    }
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
    try {
        session->start();
    } catch (...) {
        endCallAndRethrow(std::current_exception());
    }
    // Pictures go to the address that answered, looked up once for the whole call.
    bool isV4 = false;
    const quint32 v4 = from.toIPv4Address(&isV4);
    m_parts.view.setVideoDestination(isV4 ? QHostAddress(v4).toString() : sender);
    setSendVideo(true);
}

void CallSession::cancelReceived(const QString& sender) {
    if (sender != m_callerAddress) {
        return;
    }
    setState(callerWithdrew(m_state));
    m_parts.ringTimer.setEnabled(false);
    m_parts.view.setCallerLine({});
    stopRingTone();
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
        setSendVideo(false);
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
