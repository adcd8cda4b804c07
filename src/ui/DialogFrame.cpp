#include "ui/DialogFrame.h"

#include "ui/RbPanel.h"

#include <QScreen>
#include <QWidget>

namespace talvora {

RbPanel* makeDialogPanel(QWidget* dialog) {
    auto* panel = new RbPanel(dialog);
    panel->setObjectName(QStringLiteral("RbPanel1"));
    panel->setGeometry(dialog->rect());
    panel->setColor(kPanelBlue);
    panel->setCornerWidth(25);
    panel->setBorderWidth(5);
    panel->setBorderColor(Qt::white);
    panel->setOuterColor(Qt::white);
    return panel;
}

void centreOnMainWindow(QWidget* dialog) {
    const QWidget* main = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    const QScreen* screen = dialog->screen();
    const QRect around = main ? main->frameGeometry()
                              : (screen ? screen->availableGeometry() : QRect(QPoint(0, 0), dialog->size()));
    dialog->move(around.center() - dialog->rect().center());
}

} // namespace talvora
