#include "ui/CallingDialog.h"

#include "ui/DialogFrame.h"
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
    setWindowModality(Qt::WindowModal);
    setFixedSize(383, 134);

    m_panel = makeDialogPanel(this);
    m_panel->setAntialiased(true);

    m_statusLabel = new QLabel(m_panel);
    // The status line shows what a peer sent: plain text, never markup.
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setText(QStringLiteral("Hailing..."));
    m_statusLabel->setObjectName(QStringLiteral("Label1"));
    m_statusLabel->setGeometry(8, 16, 369, 33);
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setWordWrap(false);
    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setPixelSize(21);
    m_statusLabel->setFont(labelFont);
    m_statusLabel->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    // A long text stays on its one line, centred; the label's edges clip it.
    m_statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    m_cancelButton = new RbButton(QStringLiteral("Cancel"), m_panel);
    m_cancelButton->setObjectName(QStringLiteral("btnCancel"));
    m_cancelButton->setGeometry(280, 72, 75, 41);
    connect(m_cancelButton, &RbButton::clicked, this, &CallingDialog::onCancelClicked);

    m_dice = new RxDice(m_panel);
    m_dice->setObjectName(QStringLiteral("RxDice1"));
    m_dice->setGeometry(24, 48, 66, 66);
}

void CallingDialog::startAnimation() {
    m_dice->setRotate(true);
}

void CallingDialog::stopAnimation() {
    m_dice->setRotate(false);
}

void CallingDialog::setStatusLine(const QString& text) {
    m_statusLabel->setText(text);
}

void CallingDialog::showDialog() {
    // Window-modal: the main window takes no input while the caller waits, yet nothing waits
    // here; datagrams, timers and the Cancel button drive the call from the event loop.
    open();
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
    centreOnMainWindow(this);
    QDialog::showEvent(event);
}

} // namespace talvora
