#include "ui/MainWindow.h"

#include "call/CallView.h"
#include "phone/Phone.h"
#include "ui/DialogFrame.h"
#include "ui/PictureButton.h"
#include "ui/PictureView.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include "ui/Snapshot.h"
#include "ui/SvgPicture.h"
#include "ui/TrackBar.h"
#include "ui/WindowDrag.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextDocument>

namespace talvora {

namespace {

constexpr int kPanelWidth = 200;
// The lines over the picture (in the 800x650 video area of a normal window: the caller line at
// 8, 5, 785 wide; the status line at 256, 632, 545 wide).
constexpr int kLineHeight = 16;
constexpr int kCallerLineLeft = 8;
constexpr int kCallerLineTop = 5;
constexpr int kPrivacyLineTop = kCallerLineTop + 18;
constexpr int kCodesMatchWidth = 150;
constexpr int kCallerLineMargins = 15;
constexpr int kStatusLineLeft = 256;
constexpr int kStatusLineFromBottom = 18;
constexpr QSize kNormalClientSize(1000, 650);
const QColor kCallerBlue(0, 163, 240); // 15770368
QFont makeFont(const char* family, int pixelSize, bool bold = false) {
    QFont f{QString::fromLatin1(family)};
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QLabel* makeLabel(QWidget* parent, const QString& text, const QFont& f, const QColor& colour, QRect geometry,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(parent);
    // Texts here come from peers and files: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setAlignment(align);
    if (geometry.width() > 0) {
        label->setGeometry(geometry);
    } else {
        label->move(geometry.topLeft());
        label->adjustSize();
    }
    return label;
}

} // namespace

// The control panel's surface: a rounded plain-blue panel with a black border and surround. A
// press on it starts a window move.
class ControlPanel : public RbPanel {
public:
    explicit ControlPanel(QWidget* parent) : RbPanel(parent) {
        setCornerWidth(50);
        setBorderWidth(5);
        setColor(kPanelBlue);
        setBorderColor(Qt::black);
        setOuterColor(Qt::black);
    }
    std::function<void(QMouseEvent*)> onPress;

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (onPress) {
            onPress(e);
        }
    }
};

MainWindow::MainWindow(Phone& phone, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_phone(phone) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Brisko Talvora Video Phone..."));
    setFont(makeFont("MS Sans Serif", 11));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    resize(kNormalClientSize);

    m_drag = new WindowDrag(this);
    buildVideoArea();
    buildControlPanel();
    layoutAreas();
    connectPhone();
}

MainWindow::~MainWindow() = default;

void MainWindow::attachDialogs(QWidget* addressBook, QWidget* settings) {
    m_addressBook = addressBook;
    m_settings = settings;
}

void MainWindow::connectPhone() {
    connect(&m_phone, &Phone::localAddressChanged, m_addressLabel, &QLabel::setText);
    connect(&m_phone, &Phone::started, this, &MainWindow::onStarted);
    connect(&m_phone, &Phone::speakerVolumeRead, m_speakerSlider, &TrackBar::setPosition);
    connect(&m_phone, &Phone::pictureReceived, m_remotePicture, &PictureView::setPicture);
    connect(&m_phone, &Phone::idlePictureRequested, this,
            [this] { m_remotePicture->setPicture(m_idlePicture); });
    connect(&m_phone, &Phone::hostTextChanged, m_hostEdit, &QLineEdit::setText);
    connect(m_hostEdit, &QLineEdit::textChanged, &m_phone, &Phone::hostEdited);
    connect(&m_phone, &Phone::hostFocusRequested, this, &MainWindow::onHostFocusRequested);
    connect(&m_phone, &Phone::callerIdText, this, &MainWindow::showCallerLine);
    // Marks the window as wanting attention until the user turns to it; the window manager
    // decides how (a flashing taskbar entry on most desktops).
    connect(&m_phone, &Phone::attentionRequested, this, [this] { QApplication::alert(this, 0); });
    connect(&m_phone, &Phone::windowRaiseRequested, this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
    });
    connect(&m_phone, &Phone::statusText, m_statusLabel, &QLabel::setText);
    connect(&m_phone, &Phone::privacyChanged, this, &MainWindow::showPrivacy);
    connect(m_codesMatch, &RbButton::clicked, &m_phone, &Phone::markPeerVerified);
    connect(&m_phone, &Phone::micSliderRequested, m_micSlider, &TrackBar::setPosition);
}

void MainWindow::buildVideoArea() {
    m_videoArea = new QWidget(this);
    m_videoArea->setObjectName(QStringLiteral("Panel1"));
    m_videoArea->setAutoFillBackground(true);
    m_videoArea->setPalette(palette());

    m_remotePicture = new PictureView(m_videoArea);
    m_remotePicture->setObjectName(QStringLiteral("Image1"));
    connect(m_remotePicture, &PictureView::mousePressed, this, [this](QMouseEvent* e) {
        e->accept();
        m_drag->begin(m_remotePicture, e->globalPosition().toPoint(), e->button());
    });
    // The view's own idle picture, which it draws from the artwork at any size.
    m_idlePicture = m_remotePicture->idlePicture();
    m_remotePicture->setAccessibleName(QStringLiteral("Picture"));
    m_remotePicture->setAccessibleDescription(QStringLiteral("The picture of the other phone's camera"));

    m_callerLabel = makeLabel(m_videoArea, QString(), makeFont("MS Sans Serif", 13, true), kCallerBlue,
                              QRect(8, 5, 785, 16), Qt::AlignCenter);
    m_callerLabel->setObjectName(QStringLiteral("lblCallerID"));
    m_callerLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_statusLabel =
        makeLabel(m_videoArea, QString(), makeFont("Arial", 13), kCallerBlue, QRect(256, 632, 545, 16));
    m_statusLabel->setObjectName(QStringLiteral("lblVideoArea"));
    m_statusLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_privacyLabel = makeLabel(m_videoArea, QString(), makeFont("Arial", 13), kCallerBlue,
                               QRect(kCallerLineLeft, kPrivacyLineTop, 785, kLineHeight), Qt::AlignCenter);
    m_privacyLabel->setObjectName(QStringLiteral("lblPrivacy"));
    m_privacyLabel->setWordWrap(true);
    m_privacyLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_privacyLabel->setAccessibleName(QStringLiteral("Privacy"));
    m_codesMatch = new RbButton(QStringLiteral("The codes match"), m_videoArea);
    m_codesMatch->setObjectName(QStringLiteral("btnCodesMatch"));
    m_codesMatch->setToolTip(QStringLiteral("Press when the other person reads you the same code: "
                                            "later calls with this phone need no comparison"));
    m_codesMatch->setAccessibleDescription(m_codesMatch->toolTip());
    m_codesMatch->hide();

    m_previewPanel = new QWidget(m_videoArea);
    m_previewPanel->setObjectName(QStringLiteral("pnlVideoArea"));
    m_previewPanel->setAutoFillBackground(true);
    m_previewPanel->setPalette(palette());
    m_previewPanel->setGeometry(0, 440, 250, 188);
}

void MainWindow::buildControlPanel() {
    auto* panel = new ControlPanel(this);
    panel->onPress = [this, panel](QMouseEvent* e) {
        m_drag->begin(panel, e->globalPosition().toPoint(), e->button());
    };
    m_controlPanel = panel;
    m_controlPanel->setObjectName(QStringLiteral("RbPanel1"));

    const QColor white(Qt::white);
    m_titleLabel = makeLabel(m_controlPanel, QStringLiteral("Hailing Frequency"), makeFont("Arial", 16, true),
                             white, QRect(8, 21, 185, 20), Qt::AlignCenter);
    m_addressLabel = makeLabel(m_controlPanel, QString(), makeFont("Arial", 13), white, QRect(8, 42, 185, 16),
                               Qt::AlignCenter);
    m_addressLabel->setObjectName(QStringLiteral("lblIPAddress"));

    m_hostEdit = new QLineEdit(hostPlaceholderText(), m_controlPanel);
    m_hostEdit->setObjectName(QStringLiteral("edtHostName"));
    m_hostEdit->setFont(makeFont("Arial", 13));
    m_hostEdit->setGeometry(24, 152, 153, 24);
    m_hostEdit->setAccessibleName(QStringLiteral("Hailing Frequency"));
    m_hostEdit->setAccessibleDescription(QStringLiteral("Address or host name to call; Enter calls"));
    // Enter does what the Call picture does: places the call, or answers one that rings.
    connect(m_hostEdit, &QLineEdit::returnPressed, this, &MainWindow::onCallClicked);

    // Each command exists twice: the picture the user clicks and a hidden button under it, with
    // the same hint and handler. A screen reader names the picture by its command and reads the
    // hint as its description.
    struct Command {
        PictureButton*& picture;
        QPushButton*& button;
        const char* svg;
        QPoint picturePos, buttonPos;
        QString hint, buttonHint;
        void (MainWindow::*handler)();
        const char* buttonName;
        QString spokenName;
    };
    const Command commands[] = {
        {m_callPicture,
         m_callButton,
         ":/icons/call.svg",
         {24, 80},
         {24, 80},
         "Make / Answer Call",
         {},
         &MainWindow::onCallClicked,
         "btnCall",
         "Call"},
        {m_endPicture,
         m_endButton,
         ":/icons/end.svg",
         {128, 80},
         {125, 80},
         "End / Decline Call",
         {},
         &MainWindow::onEndClicked,
         "btnEnd",
         "End"},
        {m_settingsPicture,
         m_settingsButton,
         ":/icons/settings.svg",
         {24, 200},
         {24, 204},
         "Settings...",
         {},
         &MainWindow::onSettingsClicked,
         "SpeedButton5",
         "Settings"},
        {m_addressBookPicture,
         m_addressBookButton,
         ":/icons/address.svg",
         {128, 200},
         {124, 204},
         "Hailing Frequencies...",
         "Address Book...",
         &MainWindow::onAddressBookClicked,
         "btnAddress",
         "Address Book"},
        {m_snapshotPicture,
         m_snapshotButton,
         ":/icons/snapshot.svg",
         {24, 272},
         {24, 276},
         "Take Snapshot",
         {},
         &MainWindow::onSnapshotClicked,
         "SpeedButton6",
         "Snapshot"},
        {m_maximizePicture,
         m_maximizeButton,
         ":/icons/maximize.svg",
         {128, 272},
         {124, 276},
         "Maximize / Restore",
         {},
         &MainWindow::onMaximizeClicked,
         "SpeedButton8",
         "Maximize"},
        {m_mutePicture,
         m_muteButton,
         ":/icons/mute.svg",
         {24, 344},
         {24, 344},
         "Mute Microphone",
         {},
         &MainWindow::onMuteClicked,
         "btnMute",
         "Mute"},
        {m_exitPicture,
         m_exitButton,
         ":/icons/exit.svg",
         {128, 344},
         {124, 344},
         "Close Talvora",
         {},
         &MainWindow::onExitClicked,
         "btnExit",
         "Exit"},
    };
    for (const Command& c : commands) {
        c.button = new QPushButton(m_controlPanel);
        c.button->setObjectName(QString::fromLatin1(c.buttonName));
        c.button->setFlat(true);
        c.button->setGeometry(QRect(c.buttonPos, QSize(52, 52)));
        c.button->setToolTip(c.buttonHint.isEmpty() ? c.hint : c.buttonHint);
        c.button->setCursor(Qt::PointingHandCursor);
        c.button->setAccessibleName(c.spokenName);
        c.button->setAccessibleDescription(c.button->toolTip());
        c.button->hide();
        connect(c.button, &QPushButton::clicked, this, c.handler);

        c.picture = new PictureButton(QString::fromLatin1(c.svg), QSize(48, 48), m_controlPanel);
        c.picture->move(c.picturePos);
        c.picture->setToolTip(c.hint);
        c.picture->setAccessibleName(c.spokenName);
        c.picture->setAccessibleDescription(c.hint);
        connect(c.picture, &PictureButton::clicked, this, c.handler);
    }
    const std::pair<PictureButton*, const char*> names[] = {
        {m_callPicture, "Image4"},     {m_endPicture, "Image5"},      {m_addressBookPicture, "Image6"},
        {m_settingsPicture, "Image7"}, {m_maximizePicture, "Image8"}, {m_snapshotPicture, "Image9"},
        {m_exitPicture, "Image10"},    {m_mutePicture, "Image11"},
    };
    for (const auto& [picture, name] : names) {
        picture->setObjectName(QString::fromLatin1(name));
    }

    m_micSlider = new TrackBar(m_controlPanel);
    m_micSlider->setObjectName(QStringLiteral("TrbMic"));
    m_micSlider->setRange(0, 100);
    m_micSlider->setTickInterval(5);
    m_micSlider->setTickPosition(QSlider::TicksRight);
    m_micSlider->setGeometry(32, 416, 35, 180);
    m_micSlider->setToolTip(QStringLiteral("Microphone Level"));
    m_micSlider->setAccessibleName(m_micSlider->toolTip());
    m_micSlider->setAccessibleDescription(m_micSlider->toolTip());
    connect(m_micSlider, &TrackBar::changed, this, &MainWindow::onMicSliderChanged);

    m_speakerSlider = new TrackBar(m_controlPanel);
    m_speakerSlider->setObjectName(QStringLiteral("TrbVoice"));
    m_speakerSlider->setRange(0, 65535);
    m_speakerSlider->setTickInterval(3500);
    m_speakerSlider->setTickPosition(QSlider::TicksLeft);
    m_speakerSlider->setGeometry(136, 416, 35, 180);
    m_speakerSlider->setToolTip(QStringLiteral("Volume Level"));
    m_speakerSlider->setAccessibleName(m_speakerSlider->toolTip());
    m_speakerSlider->setAccessibleDescription(m_speakerSlider->toolTip());
    connect(m_speakerSlider, &TrackBar::changed, this, &MainWindow::onSpeakerSliderChanged);

    const QFont small = makeFont("Arial", 11);
    m_micMinLabel = makeLabel(m_controlPanel, QStringLiteral("0"), small, white, QRect(80, 416, 0, 0));
    m_micLevelLabel = makeLabel(m_controlPanel, QStringLiteral("85"), small, white, QRect(77, 583, 0, 0));
    m_micLevelLabel->setObjectName(QStringLiteral("Label3"));
    m_speakerMinLabel = makeLabel(m_controlPanel, QStringLiteral("0"), small, white, QRect(117, 416, 0, 0));
    m_speakerMaxLabel = makeLabel(m_controlPanel, QStringLiteral("100"), small, white, QRect(111, 583, 0, 0));

    m_micIcon = new SvgPicture(QStringLiteral(":/icons/mic-small.svg"), m_controlPanel);
    m_micIcon->setObjectName(QStringLiteral("Image3"));
    m_micIcon->setAccessibleName(QStringLiteral("Microphone"));
    m_micIcon->setGeometry(38, 608, 24, 24);
    m_speakerIcon = new SvgPicture(QStringLiteral(":/icons/speaker-small.svg"), m_controlPanel);
    m_speakerIcon->setObjectName(QStringLiteral("Image2"));
    m_speakerIcon->setAccessibleName(QStringLiteral("Loudspeaker"));
    m_speakerIcon->setGeometry(140, 608, 24, 24);

    // Tab walks the panel as it reads, from the host field on: the commands row by row, then the
    // two sliders.
    QWidget* const order[] = {m_hostEdit,           m_callPicture,     m_endPicture,      m_settingsPicture,
                              m_addressBookPicture, m_snapshotPicture, m_maximizePicture, m_mutePicture,
                              m_exitPicture,        m_micSlider,       m_speakerSlider};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
}

// A caller ID comes from the wire and may be long: its start stays visible and the line ends in
// "..."; the whole text is in the tooltip then.
void MainWindow::showCallerLine(const QString& text) {
    m_callerText = text;
    const QString shown =
        m_callerLabel->fontMetrics().elidedText(text, Qt::ElideRight, m_callerLabel->width());
    m_callerLabel->setText(shown);
    const bool elided = shown != text;
    m_callerLabel->setToolTip(elided ? Qt::convertFromPlainText(text) : QString());
    // Only an elided line needs the mouse (for its tooltip); otherwise presses go through to
    // the picture below.
    m_callerLabel->setAttribute(Qt::WA_TransparentForMouseEvents, !elided);
}

void MainWindow::showPrivacy(const QString& text, bool warning, bool canMarkVerified) {
    m_privacyWarns = warning;
    m_privacyLabel->setText(text);
    QPalette colours = m_privacyLabel->palette();
    colours.setColor(QPalette::WindowText, warning ? QColor(Qt::red) : kCallerBlue);
    m_privacyLabel->setPalette(colours);
    QFont font = m_privacyLabel->font();
    font.setBold(warning);
    m_privacyLabel->setFont(font);
    m_codesMatch->setVisible(canMarkVerified);
    layoutAreas();
}

void MainWindow::layoutAreas() {
    // The panel keeps its width at the right edge; the video area and its picture take the rest.
    const int panelWidth = qMin(kPanelWidth, width());
    const int videoWidth = width() - panelWidth;
    const int videoHeight = height();
    m_controlPanel->setGeometry(videoWidth, 0, panelWidth, videoHeight);
    m_videoArea->setGeometry(0, 0, videoWidth, videoHeight);
    m_remotePicture->setGeometry(m_videoArea->rect());
    m_remotePicture->lower();
    // At any size the caller line runs along the top, the status line along the bottom, and the
    // started preview sits in the bottom-left corner; the margins are those of the 1000x650
    // window, so restoring puts everything back where it was.
    m_callerLabel->setGeometry(kCallerLineLeft, kCallerLineTop, videoWidth - kCallerLineMargins, kLineHeight);
    if (!m_callerText.isEmpty()) {
        showCallerLine(m_callerText); // elided again for the new width
    }
    m_statusLabel->setGeometry(kStatusLineLeft, videoHeight - kStatusLineFromBottom,
                               videoWidth - kStatusLineLeft + 1, kLineHeight);
    // A warning takes as many lines as it needs; the button sits under the line.
    const int privacyHeight = m_privacyWarns ? 4 * kLineHeight : kLineHeight;
    m_privacyLabel->setGeometry(kCallerLineLeft, kPrivacyLineTop, videoWidth - kCallerLineMargins,
                                privacyHeight);
    m_codesMatch->setGeometry((videoWidth - kCodesMatchWidth) / 2, kPrivacyLineTop + privacyHeight + 4,
                              kCodesMatchWidth, 24);
    if (m_previewDocked) {
        m_previewPanel->move(0, videoHeight - m_previewPanel->height());
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutAreas();
}

void MainWindow::onStarted(int micVolume) {
    m_previewDocked = true;
    layoutAreas();
    m_micSlider->setPosition(micVolume);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        m_closing = true;
        m_phone.shutDown();
        QCoreApplication::quit();
    }
    event->accept();
}

void MainWindow::onCallClicked() {
    m_phone.call();
}

void MainWindow::onEndClicked() {
    m_phone.end();
}

void MainWindow::onMuteClicked() {
    m_phone.toggleMute();
}

void MainWindow::onExitClicked() {
    close();
}

void MainWindow::onMaximizeClicked() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreLevel {
        MainWindow* self;
        ~RestoreLevel() {
            self->m_micSlider->setPosition(self->m_phone.micLevel());
            QApplication::restoreOverrideCursor();
        }
    } restore{this};
    if (isMaximized()) {
        showNormal();
    } else {
        showMaximized();
    }
}

// The dialogs block the main window while they are up; nothing waits for them to close.
void MainWindow::onAddressBookClicked() {
    if (auto* dialog = qobject_cast<QDialog*>(m_addressBook)) {
        openOverEverything(*dialog);
    }
}

void MainWindow::onSettingsClicked() {
    if (auto* dialog = qobject_cast<QDialog*>(m_settings)) {
        openOverEverything(*dialog);
    }
}

void MainWindow::onMicSliderChanged() {
    m_micLevelLabel->setText(QString::number(m_micSlider->position()));
    m_micLevelLabel->adjustSize();
    m_phone.setMicLevel(m_micSlider->position());
}

void MainWindow::onSpeakerSliderChanged() {
    m_phone.setSpeakerVolume(m_speakerSlider->position());
}

void MainWindow::onHostFocusRequested() {
    if (m_hostEdit->isEnabled() && m_hostEdit->isVisible() && m_hostEdit->focusPolicy() != Qt::NoFocus) {
        m_hostEdit->setFocus();
    }
}

void MainWindow::onSnapshotClicked() {
    takeSnapshot(*m_remotePicture);
}

} // namespace talvora
