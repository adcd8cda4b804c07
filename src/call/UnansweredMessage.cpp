#include "call/UnansweredMessage.h"

#include "call/SignalWire.h"

namespace talvora {

QString unansweredMessageProblem(const QString& message) {
    // An empty datagram never reaches the caller, whose dialog would then wait for ever.
    if (message.isEmpty()) {
        return QStringLiteral(
            "The Unanswered Message cannot be empty: the calling phone would never see it.");
    }
    // Ask the classifier itself, so that this check can never drift from what a peer does.
    if (classifySignal(statusTextPayload(message)).kind == SignalKind::StatusText) {
        return {};
    }
    return QStringLiteral("The Unanswered Message cannot be \"Accept\", \"Cancel\" or \"Calling\" and cannot "
                          "contain \"|\": the calling phone would read it as a call signal instead of "
                          "showing it.");
}

QString usableUnansweredMessage(const QString& message) {
    return unansweredMessageProblem(message).isEmpty() ? message : defaultUnansweredMessage();
}

} // namespace talvora
