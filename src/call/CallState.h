#pragma once

namespace talvora {

// Where a phone stands in a call. Placing and PlacingAnswered differ only in the calling
// dialog (a status text came back). Engaged is a call placed that has not left: the dialled name
// is still being looked up, or the request could not be sent (then the phone stays busy until
// End). Every event takes the session from one state to the next in one step; nothing waits
// inside a step, so no other event can arrive in the middle of one.
enum class CallState {
    Idle,
    Placing,
    PlacingAnswered,
    Ringing,
    Unanswered, // the ring ran out; a late Call still answers
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
    return s == CallState::Ringing || s == CallState::Unanswered || s == CallState::ConnectedCallee;
}

constexpr bool isRinging(CallState s) {
    return s == CallState::Ringing;
}

// The caller withdrew. A call already answered goes on as a call of ours (it has its voice).
constexpr CallState callerWithdrew(CallState s) {
    switch (s) {
    case CallState::Ringing:
    case CallState::Unanswered:
        return CallState::Idle;
    case CallState::ConnectedCallee:
        return CallState::ConnectedCaller;
    default:
        return s;
    }
}

} // namespace talvora
