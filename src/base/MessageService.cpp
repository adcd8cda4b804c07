#include "base/MessageService.h"

namespace talvora {

QString standardErrorText(const QString& text) {
    if (!text.isEmpty() && text.back() > QLatin1Char('.')) {
        return text + QLatin1Char('.');
    }
    return text;
}

void showStandardError(MessageService& messages, const QString& text) {
    messages.error(applicationTitle(), standardErrorText(text));
}

} // namespace talvora
