#include "ui/DialogFrame.h"

#include <QDialog>

#include "ui/RbPanel.h"

#include <QLabel>
#include <QLineEdit>
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

QLabel* addDialogLabel(QWidget* panel, const QString& text, int left, int top) {
    auto* label = new QLabel(text, panel);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* addDialogEdit(QWidget* panel, const QRect& place, QObject* keyFilter) {
    auto* edit = new QLineEdit(panel);
    edit->setGeometry(place);
    edit->setStyleSheet(QStringLiteral("QLineEdit { background: white; color: black; }"));
    edit->installEventFilter(keyFilter);
    return edit;
}

void centreOnMainWindow(QWidget* dialog) {
    const QWidget* main = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    const QScreen* screen = dialog->screen();
    const QRect around = main ? main->frameGeometry()
                              : (screen ? screen->availableGeometry() : QRect(QPoint(0, 0), dialog->size()));
    dialog->move(around.center() - dialog->rect().center());
}

void openOverEverything(QDialog& dialog) {
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

} // namespace talvora
