#include "ui/CallingDialog.h"

#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include "ui/RxDice.h"

#include <QLabel>
#include <QScreen>

namespace talvora {

CallingDialog::CallingDialog(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmCalling"));
    setWindowTitle(QStringLiteral("Calling Status"));
    setModal(true);
    setFixedSize(383, 134);

    RbPanel1 = new RbPanel(this);
    RbPanel1->setGeometry(rect());
    RbPanel1->setColor(kPanelBlue);
    RbPanel1->setCornerWidth(25);
    RbPanel1->setBorderWidth(5);
    RbPanel1->setBorderColor(Qt::white);
    RbPanel1->setOuterColor(Qt::white);
    RbPanel1->setAntialiased(true);

    Label1 = new QLabel(QStringLiteral("Hailing..."), RbPanel1);
    Label1->setGeometry(8, 16, 369, 33);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(false);
    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setPixelSize(21);
    Label1->setFont(labelFont);
    Label1->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    // A long text stays on its one line, centred; the label's edges clip it.
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    btnCancel = new RbButton(QStringLiteral("Cancel"), RbPanel1);
    btnCancel->setGeometry(280, 72, 75, 41);
    connect(btnCancel, &RbButton::clicked, this, &CallingDialog::onCancelClicked);

    RxDice1 = new RxDice(RbPanel1);
    RxDice1->setGeometry(24, 48, 66, 66);
}

void CallingDialog::startAnimation() {
    RxDice1->setRotate(true);
}

void CallingDialog::stopAnimation() {
    RxDice1->setRotate(false);
}

void CallingDialog::setStatusLine(const QString& text) {
    Label1->setText(text);
}

void CallingDialog::showModal() {
    exec();
}

void CallingDialog::closeDialog() {
    if (isVisible()) {
        done(QDialog::Rejected);
    }
}

void CallingDialog::onCancelClicked() {
    if (m_cancelHandler) {
        m_cancelHandler();
    } else {
        closeDialog();
    }
}

void CallingDialog::reject() {
    // Escape and the window manager's close button: the dialog has no such way out, because
    // leaving without Cancel would not tell the peer.
}

void CallingDialog::showEvent(QShowEvent* event) {
    const QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect around = main ? main->frameGeometry()
                              : (screen() ? screen()->availableGeometry() : QRect(QPoint(0, 0), size()));
    move(around.center() - rect().center());
    QDialog::showEvent(event);
}

} // namespace talvora
