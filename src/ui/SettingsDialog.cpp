#include "ui/SettingsDialog.h"

#include "base/Error.h"
#include "base/MessageService.h"
#include "call/UnansweredMessage.h"
#include "ui/DialogFrame.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include "ui/RbSpinEdit.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

namespace talvora {

namespace {

constexpr int kTextMaxChars = 50; // message and caller ID, as typed

std::optional<QString> chooseWithFileDialog(QWidget* parent, const QString& initialFile,
                                            const QString& filter) {
    const QString chosen =
        QFileDialog::getOpenFileName(parent, QStringLiteral("Ring Tone"), initialFile, filter);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return QFileInfo(chosen).absoluteFilePath();
}

} // namespace

QString SettingsDialog::ringToneFilter() {
    return QStringLiteral("Supported Media Files (*.mp3 *.wav *.wma);;MP3 (*.mp3);;Wave (*.wav);;"
                          "Windows Media Audio (*.wma)");
}

SettingsDialog::SettingsDialog(SettingsStore store, SettingsOwner owner, MessageService& messages,
                               QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), m_store(std::move(store)),
      m_owner(std::move(owner)), m_messages(messages), m_chooser(chooseWithFileDialog) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);
    setFixedSize(474, 231);

    m_panel = makeDialogPanel(this);

    m_ringToneLabel = addLabel("Label1", QStringLiteral("Ring Tone"), 16, 25);
    m_ringTimeLabel = addLabel("Label2", QStringLiteral("Ring Time (sec)"), 16, 67);
    m_messageLabel = addLabel("Label3", QStringLiteral("Unanswered Message"), 16, 107);
    m_callerIdLabel = addLabel("Label4", QStringLiteral("Caller ID"), 16, 147);

    m_ringToneEdit = addDialogEdit(m_panel, QRect(144, 24, 281, 21), this);
    m_ringToneEdit->setObjectName(QStringLiteral("edtRingTone"));
    m_browseButton = new RbButton(QStringLiteral("..."), m_panel);
    m_browseButton->setObjectName(QStringLiteral("RbButton1"));
    m_browseButton->setGeometry(432, 22, 25, 25);
    m_browseButton->setCornerWidth(8);
    m_ringTimeSpin = new RbSpinEdit(m_panel);
    m_ringTimeSpin->setObjectName(QStringLiteral("sedRingTime"));
    m_ringTimeSpin->setGeometry(144, 64, 41, 22);
    m_ringTimeSpin->setRange(1, 30);
    m_ringTimeSpin->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    m_ringTimeSpin->installEventFilter(this);
    m_messageEdit = addDialogEdit(m_panel, QRect(144, 104, 241, 21), this);
    m_messageEdit->setObjectName(QStringLiteral("edtMessage"));
    m_messageEdit->setMaxLength(kTextMaxChars);
    m_callerIdEdit = addDialogEdit(m_panel, QRect(144, 144, 241, 21), this);
    m_callerIdEdit->setObjectName(QStringLiteral("edtCallerID"));
    m_callerIdEdit->setMaxLength(kTextMaxChars);
    // The captions name their boxes for screen readers.
    m_ringToneLabel->setBuddy(m_ringToneEdit);
    m_ringTimeLabel->setBuddy(m_ringTimeSpin);
    m_messageLabel->setBuddy(m_messageEdit);
    m_callerIdLabel->setBuddy(m_callerIdEdit);

    // Our own setting, under the caller ID: off, calls with older phones go unencrypted.
    m_privateOnlyBox = new QCheckBox(QStringLiteral("Private calls only"), m_panel);
    m_privateOnlyBox->setObjectName(QStringLiteral("chkPrivateCallsOnly"));
    m_privateOnlyBox->setGeometry(144, 166, 241, 17);
    // Written as the captions are: white on the panel's blue.
    QFont boxFont(QStringLiteral("MS Sans Serif"));
    boxFont.setPixelSize(11);
    boxFont.setBold(true);
    m_privateOnlyBox->setFont(boxFont);
    QPalette boxColours = m_privateOnlyBox->palette();
    boxColours.setColor(QPalette::WindowText, Qt::white);
    m_privateOnlyBox->setPalette(boxColours);
    m_privateOnlyBox->setToolTip(
        QStringLiteral("End calls that cannot be encrypted, such as calls with older phones"));
    m_privateOnlyBox->setAccessibleDescription(m_privateOnlyBox->toolTip());

    m_saveButton = new RbButton(QStringLiteral("Save"), m_panel);
    m_saveButton->setObjectName(QStringLiteral("btnSave"));
    m_saveButton->setGeometry(16, 184, 75, 25);
    m_closeButton = new RbButton(QStringLiteral("Close"), m_panel);
    m_closeButton->setObjectName(QStringLiteral("btnClose"));
    m_closeButton->setGeometry(384, 184, 75, 25);
    m_videoOptionsButton = new RbButton(QStringLiteral("Video Options"), m_panel);
    m_videoOptionsButton->setObjectName(QStringLiteral("btnVideoOptions"));
    m_videoOptionsButton->setGeometry(200, 184, 89, 25);

    QWidget* order[] = {m_ringToneEdit,   m_browseButton, m_ringTimeSpin, m_messageEdit,       m_callerIdEdit,
                        m_privateOnlyBox, m_saveButton,   m_closeButton,  m_videoOptionsButton};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(m_browseButton, &RbButton::clicked, this, &SettingsDialog::onBrowseClicked);
    connect(m_saveButton, &RbButton::clicked, this, &SettingsDialog::onSaveClicked);
    connect(m_closeButton, &RbButton::clicked, this, &SettingsDialog::onCloseClicked);
    connect(m_videoOptionsButton, &RbButton::clicked, this, &SettingsDialog::onVideoOptionsClicked);
}

QLabel* SettingsDialog::addLabel(const char* name, const QString& text, int left, int top) {
    QLabel* label = addDialogLabel(m_panel, text, left, top);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

void SettingsDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        centreOnMainWindow(this);
        // Every opening shows the live values; coming back from the video options dialog is no
        // new opening (this dialog stays shown meanwhile).
        onOpened();
    }
    QDialog::showEvent(event);
}

void SettingsDialog::onOpened() {
    m_edited = m_owner.current();
    m_ringToneEdit->setText(m_edited.ringTone);
    // Whole seconds, truncated toward zero; the spin box pulls the value into 1..30.
    m_ringTimeSpin->setValue(m_edited.ringTimeMs / 1000);
    // Texts longer than what can be typed (from a file edited by hand) are shown whole, so that
    // saving unchanged values never cuts them.
    m_messageEdit->setMaxLength(qMax(kTextMaxChars, int(m_edited.unansweredMessage.size())));
    m_messageEdit->setText(m_edited.unansweredMessage);
    m_callerIdEdit->setMaxLength(qMax(kTextMaxChars, int(m_edited.callerId.size())));
    m_callerIdEdit->setText(m_edited.callerId);
    m_privateOnlyBox->setChecked(m_edited.privateCallsOnly);
    m_ringToneEdit->setFocus();
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (watched == m_ringToneEdit) {
                onRingToneKey();
                return true;
            }
            if (watched == m_ringTimeSpin) {
                onRingTimeKey();
                return true;
            }
            if (watched == m_messageEdit) {
                onMessageKey();
                return true;
            }
            if (watched == m_callerIdEdit) {
                onCallerIdKey();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDialog::onRingToneKey() {
    m_ringTimeSpin->setFocus();
}
void SettingsDialog::onRingTimeKey() {
    m_messageEdit->setFocus();
}
void SettingsDialog::onMessageKey() {
    m_callerIdEdit->setFocus();
}
void SettingsDialog::onCallerIdKey() {
    m_saveButton->setFocus();
}

void SettingsDialog::onBrowseClicked() {
    if (const std::optional<QString> chosen = m_chooser(this, m_ringToneEdit->text(), ringToneFilter())) {
        m_ringToneEdit->setText(*chosen);
    }
}

void SettingsDialog::onSaveClicked() {
    const QString ringTone = m_ringToneEdit->text();
    const int ringTimeSec = m_ringTimeSpin->value();
    const QString message = m_messageEdit->text();
    const QString callerId = m_callerIdEdit->text();

    if (const QString problem = unansweredMessageProblem(message); !problem.isEmpty()) {
        m_messages.warning(QStringLiteral("Warning"), problem);
        m_messageEdit->setFocus();
        return;
    }
    PhoneSettings edited = m_edited;
    edited.ringTone = ringTone;
    edited.ringTimeMs = ringTimeSec * 1000;
    edited.unansweredMessage = message;
    edited.callerId = callerId;
    edited.privateCallsOnly = m_privateOnlyBox->isChecked();
    try {
        m_store.saveDialogValues(edited);
    } catch (const Error& e) {
        // The keys written so far stay written; the phone keeps its values and the dialog
        // stays open, so the user can try again.
        showStandardError(m_messages, e.text());
        return;
    }
    m_edited = edited;
    m_owner.commit(m_edited);
    accept();
}

void SettingsDialog::onCloseClicked() {
    reject();
}

void SettingsDialog::onVideoOptionsClicked() {
    if (m_videoOptions) {
        openOverEverything(*m_videoOptions);
    }
}

} // namespace talvora
