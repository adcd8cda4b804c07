#pragma once

#include "call/CallState.h"
#include "call/SignalSender.h"
#include "settings/PhoneSettings.h"

#include "base/HostResolver.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

namespace talvora {

class CallView;
class CallingView;
class MessageService;
class RingTimer;
class RingTonePlayer;
class VoiceSession;
class VoiceSessionFactory;

// Everything the call session talks to. All references must outlive the session.
struct CallSessionParts {
    SignalSender& sender;
    VoiceSessionFactory& voice;
    RingTimer& ringTimer;
    RingTonePlayer& ringTone;
    CallView& view;
    CallingView& callingView; // the calling dialog
    MessageService& messages;
    // Looks the dialled name up; lookupHostIPv4 unless a test maps names itself.
    HostLookup lookup;
    // Told of every change of the call state (desktop notifications follow the ring).
    std::function<void(CallState from, CallState to)> stateChanged = {};
};

// The call session of the main window: places, rings, answers, withdraws, times out and ends
// calls. It is a state machine driven by events: the user's Call, End and Cancel, the signalling
// datagrams, the ring timer and the answer of the name lookup. Each method handles one event to
// its end and returns; none waits for another event or runs the event loop, so no handler ever
// runs inside another. Everything runs on the main thread.
//
// Errors the call session does not catch itself leave the methods as talvora::Error; the caller
// reports them in the standard error box (runGuarded). Placing a call and the calling dialog's
// Cancel catch their own errors. A call whose voice cannot start is ended before the error
// leaves, so that the phone is never left half in a call.
class CallSession final : public SignalHandler {
public:
    explicit CallSession(CallSessionParts parts);
    ~CallSession() override;

    CallSession(const CallSession&) = delete;
    CallSession& operator=(const CallSession&) = delete;

    // The user's controls and the ring timer.
    void onCallClicked();
    void onEndClicked();
    void onRingTimeout();
    // The calling dialog's Cancel button.
    void onCancelClicked();

    // The four reactions to a classified signalling datagram.
    void callRequestReceived(const QString& callerId, const QString& sender) override;
    void acceptReceived(const QString& sender) override;
    void cancelReceived(const QString& sender) override;
    void statusTextReceived(const QString& text) override;

    // Start-up clears the flags (they start clear anyway).
    void resetState();

    // The settings the session reads when it uses them; the settings dialog writes them.
    PhoneSettings& settings() { return m_settings; }
    const PhoneSettings& settings() const { return m_settings; }

    CallState state() const { return m_state; }
    bool inCall() const { return isInCall(m_state); }
    bool incomingCall() const { return isIncoming(m_state); }
    bool ringing() const { return isRinging(m_state); }
    // Outgoing camera pictures go to the video destination only while this is set.
    bool sendVideo() const { return m_sendVideo; }
    // The voice session of the current call, or null (for the microphone level).
    VoiceSession* voiceSession() const { return m_voice.get(); }
    // Where this side's call request went (resolved), while that call lasts; null otherwise.
    QHostAddress calledAddress() const { return m_calledAddress; }
    // Where the latest call request came from (the caller an answer goes to).
    QString callerAddress() const { return m_callerAddress; }
    // The caller ID the latest call request carried.
    QString callerId() const { return m_callerId; }

    // The dialled name is being looked up (the calling dialog shows meanwhile).
    bool lookingUp() const { return m_lookup != nullptr; }

private:
    void placeCall();
    void hostLookedUp(const HostLookupResult& found);
    void forgetLookup();
    void answerCall();
    bool placing() const;
    void setState(CallState state);
    void setSendVideo(bool on);
    // Makes, configures and stores the voice session towards `remote`, first stopping and
    // destroying any session that is still there. Returns the new one.
    VoiceSession* replaceVoiceSession(const QString& remote);
    // A call that cannot be set up (its voice does not start, its "Accept" cannot leave) ends
    // as End would end it, and the error goes on to the caller's error report.
    [[noreturn]] void endCallAndRethrow(std::exception_ptr error);
    // What End does: no call, no voice, no pictures, the idle picture. Rethrows a failure to
    // stop the voice once all of that is done.
    void endCall();
    void stopRingTone();
    void sendTo(const QString& host, const QByteArray& payload);
    QByteArray unansweredPayload() const;

    CallSessionParts m_parts;
    PhoneSettings m_settings;

    CallState m_state = CallState::Idle;
    bool m_sendVideo = false;
    std::unique_ptr<VoiceSession> m_voice;

    // The address our pending call request went to, and every address of the dialled name: an
    // "Accept" is taken only from one of them (a callee with several addresses may answer from
    // another than the one dialled).
    QHostAddress m_calledAddress;
    QList<QHostAddress> m_calledAddresses;
    // Owns the answer of the lookup under way: dropping it (Cancel, End) means the answer never
    // comes, so a late answer cannot reach a later call.
    std::unique_ptr<QObject> m_lookup;
    QString m_callerAddress;
    QString m_callerId;
};

} // namespace talvora
