#pragma once

namespace talvora {

// Where a phone stands in a call. Placing and PlacingAnswered differ only in the calling
// dialog (a status text came back); Answering is the moment between Call pressed while ringing
// and the "Accept" going out, when the ring is still on so that End cannot drop the caller.
// Engaged is a call placed that never left (the request could not be sent): the phone stays
// busy until End.
enum class CallState {
    Idle,
    Placing,
    PlacingAnswered,
    Ringing,
    Unanswered, // the ring ran out; a late Call still answers
    Answering,
    ConnectedCallee,
    ConnectedCaller,
    Engaged,
};

// The three facts the rest of the phone asks about.
constexpr bool isInCall(CallState s) {
    switch (s) {
    case CallState::Idle:
    case CallState::Ringing:
    case CallState::Unanswered:
        return false;
    default:
        return true;
    }
}

constexpr bool isIncoming(CallState s) {
    return s == CallState::Ringing || s == CallState::Unanswered || s == CallState::Answering ||
           s == CallState::ConnectedCallee;
}

constexpr bool isRinging(CallState s) {
    return s == CallState::Ringing || s == CallState::Answering;
}

// The ring stops (it ran out, or the answer is under way).
constexpr CallState ringStopped(CallState s) {
    switch (s) {
    case CallState::Ringing:
        return CallState::Unanswered;
    case CallState::Answering:
        return CallState::ConnectedCallee;
    default:
        return s;
    }
}

// This side leaves the call (the calling dialog's Cancel): an incoming call that was being
// answered goes back to ringing or rung out.
constexpr CallState callLeft(CallState s) {
    switch (s) {
    case CallState::Answering:
        return CallState::Ringing;
    case CallState::ConnectedCallee:
        return CallState::Unanswered;
    case CallState::Ringing:
    case CallState::Unanswered:
        return s;
    default:
        return CallState::Idle;
    }
}

// The caller withdrew. A call already answered goes on as a call of ours (with its voice) or
// stays engaged until End.
constexpr CallState callerWithdrew(CallState s, bool hasVoice) {
    switch (s) {
    case CallState::Ringing:
    case CallState::Unanswered:
        return CallState::Idle;
    case CallState::Answering:
        return CallState::Engaged;
    case CallState::ConnectedCallee:
        return hasVoice ? CallState::ConnectedCaller : CallState::Engaged;
    default:
        return s;
    }
}

} // namespace talvora
