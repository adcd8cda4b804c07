#include "ui/VideoOptionsDialog.h"

#include <QGroupBox>
#include <QScreen>

#include "ui/CaptureController.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"

namespace talvora {

VideoOptionsDialog::VideoOptionsDialog(CaptureController& videoCap, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_videoCap(videoCap) {
    setObjectName(QStringLiteral("frmVideoOptions"));
    setWindowTitle(QStringLiteral("Video Display Options"));
    setFixedSize(298, 184);
    setAttribute(Qt::WA_TranslucentBackground); // the rounded corners show what lies behind

    RbPanel1 = new RbPanel(this); // blue face, white border 5 wide, corner width 25
    RbPanel1->setCornerWidth(25);
    RbPanel1->setBorderWidth(5);
    RbPanel1->setObjectName(QStringLiteral("RbPanel1"));
    RbPanel1->setGeometry(0, 0, 298, 184);

    GroupBox1 = new QGroupBox(QStringLiteral(" General Video Settings "), RbPanel1);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(16, 16, 265, 105);
    GroupBox1->setStyleSheet(QStringLiteral("QGroupBox { color: white; font-weight: bold; }"));

    const auto makeButton = [this](const char* name, const QString& caption, QRect geometry) {
        auto* button = new RbButton(caption, RbPanel1);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        return button;
    };
    btnSource = makeButton("btnSource", QStringLiteral("Video Source"), QRect(35, 50, 94, 39));
    btnFormat = makeButton("btnFormat", QStringLiteral("Video Format"), QRect(171, 50, 94, 39));
    btnClose = makeButton("btnClose", QStringLiteral("Close"), QRect(115, 138, 75, 25));
    btnSource->setEnabled(false);
    btnFormat->setEnabled(false);

    connect(btnSource, &RbButton::clicked, this, &VideoOptionsDialog::btnSourceClick);
    connect(btnFormat, &RbButton::clicked, this, &VideoOptionsDialog::btnFormatClick);
    connect(btnClose, &RbButton::clicked, this, &VideoOptionsDialog::btnCloseClick);
}

void VideoOptionsDialog::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - rect().center());
    }
    QDialog::showEvent(event);
    FormShow();
}

// Only enables: the buttons are disabled again by Close, so each showing asks the driver anew.
void VideoOptionsDialog::FormShow() {
    if (m_videoCap.hasSourceDialog())
        btnSource->setEnabled(true);
    if (m_videoCap.hasFormatDialog())
        btnFormat->setEnabled(true);
}

void VideoOptionsDialog::btnSourceClick() {
    m_videoCap.showSourceDialog();
}

void VideoOptionsDialog::btnFormatClick() {
    m_videoCap.showFormatDialog();
    // Also after a cancel: the frame state then simply reads the unchanged format.
    if (m_readCaptureFormat)
        m_readCaptureFormat();
}

void VideoOptionsDialog::btnCloseClick() {
    btnSource->setEnabled(false);
    btnFormat->setEnabled(false);
    close();
}

} // namespace talvora
