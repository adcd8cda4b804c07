#include "ui/SettingsDialog.h"

#include "base/Error.h"
#include "base/MessageService.h"
#include "call/UnansweredMessage.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include "ui/RbSpinEdit.h"

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

    RbPanel1 = new RbPanel(this);
    RbPanel1->setGeometry(rect());
    RbPanel1->setColor(kPanelBlue);
    RbPanel1->setCornerWidth(25);
    RbPanel1->setBorderWidth(5);
    RbPanel1->setBorderColor(Qt::white);
    RbPanel1->setOuterColor(Qt::white);

    Label1 = addLabel(QStringLiteral("Ring Tone"), 16, 25);
    Label2 = addLabel(QStringLiteral("Ring Time (sec)"), 16, 67);
    Label3 = addLabel(QStringLiteral("Unanswered Message"), 16, 107);
    Label4 = addLabel(QStringLiteral("Caller ID"), 16, 147);

    edtRingTone = addEdit(144, 24, 281, 21);
    edtRingTone->setObjectName(QStringLiteral("edtRingTone"));
    RbButton1 = new RbButton(QStringLiteral("..."), RbPanel1);
    RbButton1->setGeometry(432, 22, 25, 25);
    RbButton1->setCornerWidth(8);
    sedRingTime = new RbSpinEdit(RbPanel1);
    sedRingTime->setObjectName(QStringLiteral("sedRingTime"));
    sedRingTime->setGeometry(144, 64, 41, 22);
    sedRingTime->setRange(1, 30);
    sedRingTime->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    sedRingTime->installEventFilter(this);
    edtMessage = addEdit(144, 104, 241, 21);
    edtMessage->setObjectName(QStringLiteral("edtMessage"));
    edtMessage->setMaxLength(kTextMaxChars);
    edtCallerID = addEdit(144, 144, 241, 21);
    edtCallerID->setObjectName(QStringLiteral("edtCallerID"));
    edtCallerID->setMaxLength(kTextMaxChars);

    btnSave = new RbButton(QStringLiteral("Save"), RbPanel1);
    btnSave->setGeometry(16, 184, 75, 25);
    btnClose = new RbButton(QStringLiteral("Close"), RbPanel1);
    btnClose->setGeometry(384, 184, 75, 25);
    btnVideoOptions = new RbButton(QStringLiteral("Video Options"), RbPanel1);
    btnVideoOptions->setGeometry(200, 184, 89, 25);

    QWidget* order[] = {edtRingTone, RbButton1, sedRingTime, edtMessage,
                        edtCallerID, btnSave,   btnClose,    btnVideoOptions};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(RbButton1, &RbButton::clicked, this, &SettingsDialog::RbButton1Click);
    connect(btnSave, &RbButton::clicked, this, &SettingsDialog::btnSaveClick);
    connect(btnClose, &RbButton::clicked, this, &SettingsDialog::btnCloseClick);
    connect(btnVideoOptions, &RbButton::clicked, this, &SettingsDialog::btnVideoOptionsClick);
}

QLabel* SettingsDialog::addLabel(const QString& text, int left, int top) {
    auto* label = new QLabel(text, RbPanel1);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* SettingsDialog::addEdit(int left, int top, int width, int height) {
    auto* edit = new QLineEdit(RbPanel1);
    edit->setGeometry(left, top, width, height);
    edit->setStyleSheet(QStringLiteral("QLineEdit { background: white; color: black; }"));
    edit->installEventFilter(this);
    return edit;
}

void SettingsDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        const QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
        const QRect around = main ? main->frameGeometry()
                                  : (screen() ? screen()->availableGeometry() : QRect(QPoint(0, 0), size()));
        move(around.center() - rect().center());
        // Every opening shows the live values; coming back from the video options dialog is no
        // new opening (this dialog stays shown meanwhile).
        FormActivate();
    }
    QDialog::showEvent(event);
}

void SettingsDialog::FormActivate() {
    m_edited = m_owner.current();
    edtRingTone->setText(m_edited.ringTone);
    // Whole seconds, truncated toward zero; the spin box pulls the value into 1..30.
    sedRingTime->setValue(m_edited.ringTimeMs / 1000);
    // Texts longer than what can be typed (from a file edited by hand) are shown whole, so that
    // saving unchanged values never cuts them.
    edtMessage->setMaxLength(qMax(kTextMaxChars, int(m_edited.unansweredMessage.size())));
    edtMessage->setText(m_edited.unansweredMessage);
    edtCallerID->setMaxLength(qMax(kTextMaxChars, int(m_edited.callerId.size())));
    edtCallerID->setText(m_edited.callerId);
    edtRingTone->setFocus();
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (watched == edtRingTone) {
                edtRingToneKeyDown();
                return true;
            }
            if (watched == sedRingTime) {
                sedRingTimeKeyDown();
                return true;
            }
            if (watched == edtMessage) {
                edtMessageKeyDown();
                return true;
            }
            if (watched == edtCallerID) {
                edtCallerIDKeyDown();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDialog::edtRingToneKeyDown() {
    sedRingTime->setFocus();
}
void SettingsDialog::sedRingTimeKeyDown() {
    edtMessage->setFocus();
}
void SettingsDialog::edtMessageKeyDown() {
    edtCallerID->setFocus();
}
void SettingsDialog::edtCallerIDKeyDown() {
    btnSave->setFocus();
}

void SettingsDialog::RbButton1Click() {
    if (const std::optional<QString> chosen = m_chooser(this, edtRingTone->text(), ringToneFilter())) {
        edtRingTone->setText(*chosen);
    }
}

void SettingsDialog::btnSaveClick() {
    const QString ringTone = edtRingTone->text();
    const int ringTimeSec = sedRingTime->value();
    const QString message = edtMessage->text();
    const QString callerId = edtCallerID->text();

    if (const QString problem = unansweredMessageProblem(message); !problem.isEmpty()) {
        m_messages.warning(QStringLiteral("Warning"), problem);
        edtMessage->setFocus();
        return;
    }
    PhoneSettings edited = m_edited;
    edited.ringTone = ringTone;
    edited.ringTimeMs = ringTimeSec * 1000;
    edited.unansweredMessage = message;
    edited.callerId = callerId;
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

void SettingsDialog::btnCloseClick() {
    reject();
}

void SettingsDialog::btnVideoOptionsClick() {
    if (m_videoOptions) {
        m_videoOptions->exec();
    }
}

} // namespace talvora
