#pragma once

#include "base/MessageService.h"

#include <QPointer>
#include <QWidget>

namespace talvora {

// Message boxes as modal QMessageBox dialogs over the main window.
class QtMessageService : public MessageService {
public:
    void setParent(QWidget* parent) { m_parent = parent; }

    void information(const QString& caption, const QString& text) override;
    void warning(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    bool question(const QString& caption, const QString& text) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace talvora
