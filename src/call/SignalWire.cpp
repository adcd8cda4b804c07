#include "call/SignalWire.h"

#include "base/TextEncoding.h"

namespace talvora {

namespace {
constexpr qsizetype kCallerIdOffset = 8; // after the prefix "Calling|"
}

Signal classifySignal(QByteArrayView payload) {
    Signal s;
    s.text = decodeText(payload);
    QByteArrayView word = payload;
    if (payload.contains('|')) {
        s.callerId =
            payload.size() > kCallerIdOffset ? decodeText(payload.sliced(kCallerIdOffset)) : QString();
        word = "Calling";
    }
    if (word == QByteArrayView("Calling")) {
        s.kind = SignalKind::CallRequest;
    } else if (word == QByteArrayView("Accept")) {
        s.kind = SignalKind::Accept;
    } else if (word == QByteArrayView("Cancel")) {
        s.kind = SignalKind::Cancel;
    } else {
        s.kind = SignalKind::StatusText;
    }
    return s;
}

QByteArray callRequestPayload(const QString& callerId) {
    return "Calling|" + encodeText(callerId);
}

QByteArray statusTextPayload(const QString& text) {
    return encodeText(text);
}

} // namespace talvora
