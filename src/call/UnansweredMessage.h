#pragma once

#include "settings/PhoneSettings.h"

#include <QString>

namespace talvora {

// The unanswered message travels as a status text, and the calling phone classifies every
// datagram it receives. A message equal to "Accept", "Cancel" or "Calling", or one containing
// "|", would be read there as that signal (a call accepted, withdrawn or requested) instead of
// being shown. These functions keep such texts off the wire.

// Why `message` cannot be the unanswered message, for a warning box; empty when it can.
QString unansweredMessageProblem(const QString& message);

// The message as it is used: the text itself, or "Unanswered" when it would be read as a signal.
QString usableUnansweredMessage(const QString& message);

} // namespace talvora
