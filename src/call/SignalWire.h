#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace talvora {

// The signalling vocabulary on UDP port 6767: plain text, the whole payload, no terminator.
enum class SignalKind { CallRequest, Accept, Cancel, StatusText };

struct Signal {
    SignalKind kind = SignalKind::StatusText;
    QString callerId; // call request only
    QString text;     // the whole payload as text (status texts)
};

// Classifies a received payload. A "|" anywhere makes a call request whose caller ID runs from
// the 9th byte to the end, whatever the first eight bytes are; "Calling", "Accept" and "Cancel"
// match exactly and case-sensitively; anything else is a status text.
Signal classifySignal(QByteArrayView payload);

// The payloads this phone sends.
QByteArray callRequestPayload(const QString& callerId);
inline QByteArray acceptPayload() {
    return QByteArrayLiteral("Accept");
}
inline QByteArray cancelPayload() {
    return QByteArrayLiteral("Cancel");
}
QByteArray statusTextPayload(const QString& text);

} // namespace talvora
