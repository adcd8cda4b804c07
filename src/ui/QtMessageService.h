#pragma once

#include "base/MessageService.h"

#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>

namespace talvora {

// Message boxes as QMessageBox dialogs over the main window, which takes no input while one is
// open; nothing waits for them (each box deletes itself when closed).
class QtMessageService : public MessageService {
public:
    void setParent(QWidget* parent) { m_parent = parent; }

    void information(const QString& caption, const QString& text) override;
    void warning(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    void ask(const QString& caption, const QString& text, std::function<void(bool)> answered) override;

private:
    void tell(int icon, const QString& caption, const QString& text);

    QPointer<QWidget> m_parent;
    QSet<QString> m_onScreen; // caption and text of the boxes up now
};

} // namespace talvora
