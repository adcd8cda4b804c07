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

    m_panel = new RbPanel(this); // blue face, white border 5 wide, corner width 25
    m_panel->setCornerWidth(25);
    m_panel->setBorderWidth(5);
    m_panel->setObjectName(QStringLiteral("RbPanel1"));
    m_panel->setGeometry(0, 0, 298, 184);

    m_generalGroup = new QGroupBox(QStringLiteral(" General Video Settings "), m_panel);
    m_generalGroup->setObjectName(QStringLiteral("GroupBox1"));
    m_generalGroup->setGeometry(16, 16, 265, 105);
    m_generalGroup->setStyleSheet(QStringLiteral("QGroupBox { color: white; font-weight: bold; }"));

    const auto makeButton = [this](const char* name, const QString& caption, QRect geometry) {
        auto* button = new RbButton(caption, m_panel);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        return button;
    };
    m_sourceButton = makeButton("btnSource", QStringLiteral("Video Source"), QRect(35, 50, 94, 39));
    m_formatButton = makeButton("btnFormat", QStringLiteral("Video Format"), QRect(171, 50, 94, 39));
    m_closeButton = makeButton("btnClose", QStringLiteral("Close"), QRect(115, 138, 75, 25));
    m_sourceButton->setEnabled(false);
    m_formatButton->setEnabled(false);

    connect(m_sourceButton, &RbButton::clicked, this, &VideoOptionsDialog::onSourceClicked);
    connect(m_formatButton, &RbButton::clicked, this, &VideoOptionsDialog::onFormatClicked);
    connect(m_closeButton, &RbButton::clicked, this, &VideoOptionsDialog::onCloseClicked);
}

void VideoOptionsDialog::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - rect().center());
    }
    QDialog::showEvent(event);
    onShown();
}

// Only enables: the buttons are disabled again by Close, so each showing asks the driver anew.
void VideoOptionsDialog::onShown() {
    if (m_videoCap.hasSourceDialog())
        m_sourceButton->setEnabled(true);
    if (m_videoCap.hasFormatDialog())
        m_formatButton->setEnabled(true);
}

void VideoOptionsDialog::onSourceClicked() {
    m_videoCap.showSourceDialog();
}

void VideoOptionsDialog::onFormatClicked() {
    m_videoCap.showFormatDialog();
    // Also after a cancel: the frame state then simply reads the unchanged format.
    if (m_readCaptureFormat)
        m_readCaptureFormat();
}

void VideoOptionsDialog::onCloseClicked() {
    close();
}

// Close, Escape and the window manager all leave the dialog the same way: the buttons are
// disabled, so that the next showing asks the driver anew.
void VideoOptionsDialog::hideEvent(QHideEvent* event) {
    m_sourceButton->setEnabled(false);
    m_formatButton->setEnabled(false);
    QDialog::hideEvent(event);
}

} // namespace talvora
