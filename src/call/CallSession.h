#pragma once

#include "call/CallState.h"
#include "call/SignalSender.h"
#include "settings/PhoneSettings.h"

#include "base/HostResolver.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

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
    // Lets pending window messages run; other handlers may run nested inside it.
    std::function<void()> processEvents;
    // Looks the dialled name up; lookupHostIPv4 unless a test maps names itself.
    HostLookup lookup;
    // Told of every change of the call state (desktop notifications follow the ring).
    std::function<void(CallState from, CallState to)> stateChanged = {};
};

// The call session of the main window: places, rings, answers, withdraws, times out and ends
// calls. The main window keeps the handler names and forwards to the methods of the same name;
// the signalling endpoint calls the SignalHandler reactions. Everything runs on the main thread.
//
// Handlers nest: a modal dialog, a message box or processEvents() runs other handlers before
// the current one finishes, so every step after such a point checks that the state it relies on
// is still the one it left.
//
// Errors the call session does not catch itself leave the methods as talvora::Error; the caller
// reports them in the standard error box (runGuarded). Placing a call and the calling dialog's
// Cancel catch their own errors.
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

private:
    void placeCall();
    void hostLookedUp(quint64 attempt, const HostLookupResult& found);
    void answerCall();
    bool placing() const;
    void setState(CallState state);
    // Lets pending events run; handlers nested in it may change the call. True when the state
    // changed meanwhile (even if it changed back).
    bool letPendingEventsRun();
    // Makes, configures and stores the voice session towards `remote`, first stopping and
    // destroying any session that is still there. Returns the new one.
    VoiceSession* replaceVoiceSession(const QString& remote);
    void stopRingTone();
    void sendTo(const QString& host, const QByteArray& payload);
    QByteArray unansweredPayload() const;

    CallSessionParts m_parts;
    PhoneSettings m_settings;

    CallState m_state = CallState::Idle;
    quint64 m_stateChanges = 0; // counts setState calls, for letPendingEventsRun()
    bool m_sendVideo = false;
    std::unique_ptr<VoiceSession> m_voice;

    // The address our pending call request went to, and every address of the dialled name: an
    // "Accept" is taken only from one of them (a callee with several addresses may answer from
    // another than the one dialled).
    QHostAddress m_calledAddress;
    QList<QHostAddress> m_calledAddresses;
    // Counts placements, so that a lookup answering late for a withdrawn call is ignored.
    quint64 m_placeAttempt = 0;
    bool m_lookupPending = false;
    bool m_lookupAsync = false; // the pending lookup answers after placeCall() returned
    // Owns the answers of pending lookups: they die with the session.
    QObject m_lookupContext;
    QString m_callerAddress;
    QString m_callerId;
    // Counts rings, so that a ring interrupted by a newer one leaves the rest to the newer.
    quint64 m_ringGeneration = 0;
};

} // namespace talvora
