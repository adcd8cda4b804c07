#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

#include "base/Error.h"

namespace talvora {

// Every message box of the program goes through this service, so that tests can read the texts
// and answer the questions. The real one shows QMessageBox dialogs over the main window and
// returns at once: nothing waits for a box to close, and a question's answer comes later, from
// the event loop. Main thread only.
class MessageService {
public:
    virtual ~MessageService() = default;

    virtual void information(const QString& caption, const QString& text) = 0;
    virtual void warning(const QString& caption, const QString& text) = 0;
    virtual void error(const QString& caption, const QString& text) = 0;
    // Asks with Yes and No; `answered` gets true for Yes, false for No (or a box closed unanswered).
    virtual void ask(const QString& caption, const QString& text, std::function<void(bool yes)> answered) = 0;
};

// The application's title, which heads the standard error box.
inline QString applicationTitle() {
    return QStringLiteral("Talvora Video Phone");
}

// The standard error box's text: a full stop is appended when the last character sorts after ".".
QString standardErrorText(const QString& text);

// Shows an error that left a handler: application title, error icon, one OK button.
void showStandardError(MessageService& messages, const QString& text);

// Runs a handler body; an error that leaves it is shown in the standard error box and the program
// goes on with the next event. Returns false when the body raised an error.
template <class Body> bool runGuarded(MessageService& messages, Body&& body) {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const Error& e) {
        showStandardError(messages, e.text());
    } catch (const std::exception& e) {
        showStandardError(messages, QString::fromUtf8(e.what()));
    }
    return false;
}

} // namespace talvora
