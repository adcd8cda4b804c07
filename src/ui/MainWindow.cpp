#include "ui/MainWindow.h"

#include "call/CallSession.h"
#include "ui/CallingDialog.h"
#include "call/MediaRingTonePlayer.h"
#include "call/RingTimer.h"
#include "call/SignalEndpoint.h"
#include "ui/WidgetCallView.h"
#include "settings/IniFile.h"
#include "settings/SettingsFile.h"
#include "base/LocalAddress.h"
#include "base/MessageService.h"
#include "phone/SliderLevelVoice.h"
#include "ui/WindowDrag.h"
#include "convert/FrameBuffers.h"
#include "ui/PictureView.h"
#include "ui/Snapshot.h"
#include "transport/UdpDatagramSink.h"
#include "ui/CaptureController.h"
#include "transport/VideoReceiver.h"
#include "transport/VideoSender.h"
#include "voice/SpeakerVolume.h"
#include "voice/VoiceSession.h"
#include "ui/PictureButton.h"
#include "ui/RbPanel.h"
#include "ui/TrackBar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

namespace talvora {

namespace {

constexpr int kPanelWidth = 200;
constexpr QSize kNormalClientSize(1000, 650);
const QColor kPanelBlue(0, 111, 164);  // 10776320
const QColor kCallerBlue(0, 163, 240); // 15770368
const QString kHostPlaceholder = QStringLiteral("Hailing Frequency...");

QFont makeFont(const char* family, int pixelSize, bool bold = false) {
    QFont f{QString::fromLatin1(family)};
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QLabel* makeLabel(QWidget* parent, const QString& text, const QFont& f, const QColor& colour, QRect geometry,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(text, parent);
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

MainWindow::MainWindow(MainWindowContext context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_context(std::move(context)),
      m_signalling(std::make_unique<SignalEndpoint>(m_context.network, m_context.messages)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Brisko Talvora Video Phone..."));
    setFont(makeFont("MS Sans Serif", 11));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    resize(kNormalClientSize);

    m_drag = new WindowDrag(this);
    UDPClient1 = std::make_unique<UdpDatagramSink>(m_context.network);
    m_videoSender =
        std::make_unique<VideoSender>(static_cast<VideoSendState&>(*this), *UDPClient1, m_context.messages,
                                      [] { QCoreApplication::processEvents(); });
    m_context.videoCap.setMessageService(&m_context.messages);
    m_context.videoCap.setFrameHandler(
        [this](const uchar* data, qsizetype size) { return FrameCallback(data, size); });
    buildVideoArea();
    buildControlPanel();
    layoutAreas();
}

MainWindow::~MainWindow() = default;

void MainWindow::attachDialogs(QWidget* addressBook, QWidget* settings) {
    m_addressBook = addressBook;
    m_settings = settings;
}

void MainWindow::attachCallSession(CallingDialog& calling, VoiceSessionFactory& voice) {
    Timer1 = std::make_unique<QtRingTimer>();
    MediaPlayer1 = std::make_unique<MediaRingTonePlayer>();
    m_callWindow = std::make_unique<WidgetCallView>(
        CallViewControls{this, edtHostName, lblCallerID, [this] { Image1->setPicture(Image12); },
                           [this](const QString& host) { m_videoHost = host; }});
    m_voice = std::make_unique<SliderLevelVoiceFactory>(voice, [this] { return TrbMic->position(); });
    m_call = std::make_unique<CallSession>(CallSessionParts{
        *m_signalling, *m_voice, *Timer1, *MediaPlayer1, *m_callWindow, calling, m_context.messages, {}, {}});
    m_signalling->setHandler(m_call.get());
    Timer1->setTimeoutHandler([this] { onRingTimeout(); });
    calling.setCancelHandler([this] { m_call->onCancelClicked(); });
}

void MainWindow::buildVideoArea() {
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAutoFillBackground(true);
    Panel1->setPalette(palette());

    Image1 = new PictureView(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    connect(Image1, &PictureView::mousePressed, this, [this](QMouseEvent* e) {
        e->accept();
        Panel1MouseDown(Image1, e->globalPosition().toPoint());
    });
    Image12 = PictureView::renderIdlePicture();
    Image1->setIdlePicture(Image12);
    Image1->showIdlePicture();

    UDPServer1 = new VideoReceiver(m_context.network, kVideoPort, this);
    connect(UDPServer1, &VideoReceiver::firstPeer, this, [this](const QString& peer) {
        edtHostName->setText(peer);
        FVideoPeerKnown = true;
    });
    connect(UDPServer1, &VideoReceiver::pictureReceived, this,
            [this](const QImage& picture) { Image1->setPicture(picture); });

    lblCallerID = makeLabel(Panel1, QString(), makeFont("MS Sans Serif", 13, true), kCallerBlue,
                            QRect(8, 5, 785, 16), Qt::AlignCenter);
    lblCallerID->setObjectName(QStringLiteral("lblCallerID"));
    lblCallerID->setAttribute(Qt::WA_TransparentForMouseEvents);

    lblVideoArea = makeLabel(Panel1, QStringLiteral("lblIPAddress"), makeFont("Arial", 13), kCallerBlue,
                             QRect(256, 632, 545, 16));
    lblVideoArea->setObjectName(QStringLiteral("lblVideoArea"));
    lblVideoArea->setAttribute(Qt::WA_TransparentForMouseEvents);

    pnlVideoArea = new QWidget(Panel1);
    pnlVideoArea->setObjectName(QStringLiteral("pnlVideoArea"));
    pnlVideoArea->setAutoFillBackground(true);
    pnlVideoArea->setPalette(palette());
    pnlVideoArea->setGeometry(0, 440, 250, 188);
}

void MainWindow::buildControlPanel() {
    auto* panel = new ControlPanel(this);
    panel->onPress = [this, panel](QMouseEvent* e) { Panel1MouseDown(panel, e->globalPosition().toPoint()); };
    RbPanel1 = panel;
    RbPanel1->setObjectName(QStringLiteral("RbPanel1"));

    const QColor white(Qt::white);
    Label1 = makeLabel(RbPanel1, QStringLiteral("Hailing Frequency"), makeFont("Arial", 16, true), white,
                       QRect(8, 21, 185, 20), Qt::AlignCenter);
    lblIPAddress =
        makeLabel(RbPanel1, QString(), makeFont("Arial", 13), white, QRect(8, 42, 185, 16), Qt::AlignCenter);
    lblIPAddress->setObjectName(QStringLiteral("lblIPAddress"));

    edtHostName = new QLineEdit(kHostPlaceholder, RbPanel1);
    edtHostName->setObjectName(QStringLiteral("edtHostName"));
    edtHostName->setFont(makeFont("Arial", 13));
    edtHostName->setGeometry(24, 152, 153, 24);

    // Each command exists twice: the picture the user clicks and a hidden button under it, with
    // the same hint and handler.
    struct Command {
        PictureButton*& picture;
        QPushButton*& button;
        const char* svg;
        QPoint picturePos, buttonPos;
        QString hint, buttonHint;
        void (MainWindow::*handler)();
        const char* buttonName;
    };
    const Command commands[] = {
        {Image4,
         btnCall,
         ":/icons/call.svg",
         {24, 80},
         {24, 80},
         "Make / Answer Call",
         {},
         &MainWindow::onCallClicked,
         "btnCall"},
        {Image5,
         btnEnd,
         ":/icons/end.svg",
         {128, 80},
         {125, 80},
         "End / Decline Call",
         {},
         &MainWindow::onEndClicked,
         "btnEnd"},
        {Image7,
         SpeedButton5,
         ":/icons/settings.svg",
         {24, 200},
         {24, 204},
         "Settings...",
         {},
         &MainWindow::SpeedButton5Click,
         "SpeedButton5"},
        {Image6,
         btnAddress,
         ":/icons/address.svg",
         {128, 200},
         {124, 204},
         "Hailing Frequencies...",
         "Address Book...",
         &MainWindow::btnAddressClick,
         "btnAddress"},
        {Image9,
         SpeedButton6,
         ":/icons/snapshot.svg",
         {24, 272},
         {24, 276},
         "Take Snapshot",
         {},
         &MainWindow::SpeedButton6Click,
         "SpeedButton6"},
        {Image8,
         SpeedButton8,
         ":/icons/maximize.svg",
         {128, 272},
         {124, 276},
         "Maximize / Restore",
         {},
         &MainWindow::SpeedButton8Click,
         "SpeedButton8"},
        {Image11,
         btnMute,
         ":/icons/mute.svg",
         {24, 344},
         {24, 344},
         "Mute Microphone",
         {},
         &MainWindow::btnMuteClick,
         "btnMute"},
        {Image10,
         btnExit,
         ":/icons/exit.svg",
         {128, 344},
         {124, 344},
         "Close Talvora",
         {},
         &MainWindow::btnExitClick,
         "btnExit"},
    };
    for (const Command& c : commands) {
        c.button = new QPushButton(RbPanel1);
        c.button->setObjectName(QString::fromLatin1(c.buttonName));
        c.button->setFlat(true);
        c.button->setGeometry(QRect(c.buttonPos, QSize(52, 52)));
        c.button->setToolTip(c.buttonHint.isEmpty() ? c.hint : c.buttonHint);
        c.button->setCursor(Qt::PointingHandCursor);
        c.button->hide();
        connect(c.button, &QPushButton::clicked, this, c.handler);

        c.picture = new PictureButton(QString::fromLatin1(c.svg), QSize(48, 48), RbPanel1);
        c.picture->move(c.picturePos);
        c.picture->setToolTip(c.hint);
        connect(c.picture, &PictureButton::clicked, this, c.handler);
    }
    const std::pair<PictureButton*, const char*> names[] = {
        {Image4, "Image4"}, {Image5, "Image5"}, {Image6, "Image6"},   {Image7, "Image7"},
        {Image8, "Image8"}, {Image9, "Image9"}, {Image10, "Image10"}, {Image11, "Image11"},
    };
    for (const auto& [picture, name] : names) {
        picture->setObjectName(QString::fromLatin1(name));
    }

    TrbMic = new TrackBar(RbPanel1);
    TrbMic->setObjectName(QStringLiteral("TrbMic"));
    TrbMic->setRange(0, 100);
    TrbMic->setTickInterval(5);
    TrbMic->setTickPosition(QSlider::TicksRight);
    TrbMic->setGeometry(32, 416, 35, 180);
    TrbMic->setToolTip(QStringLiteral("Microphone Level"));
    connect(TrbMic, &TrackBar::changed, this, &MainWindow::TrbMicChange);

    TrbVoice = new TrackBar(RbPanel1);
    TrbVoice->setObjectName(QStringLiteral("TrbVoice"));
    TrbVoice->setRange(0, 65535);
    TrbVoice->setTickInterval(3500);
    TrbVoice->setTickPosition(QSlider::TicksLeft);
    TrbVoice->setGeometry(136, 416, 35, 180);
    TrbVoice->setToolTip(QStringLiteral("Volume Level"));
    connect(TrbVoice, &TrackBar::changed, this, &MainWindow::TrbVoiceChange);

    const QFont small = makeFont("Arial", 11);
    Label2 = makeLabel(RbPanel1, QStringLiteral("0"), small, white, QRect(80, 416, 0, 0));
    Label3 = makeLabel(RbPanel1, QStringLiteral("85"), small, white, QRect(77, 583, 0, 0));
    Label3->setObjectName(QStringLiteral("Label3"));
    Label4 = makeLabel(RbPanel1, QStringLiteral("0"), small, white, QRect(117, 416, 0, 0));
    Label5 = makeLabel(RbPanel1, QStringLiteral("100"), small, white, QRect(111, 583, 0, 0));

    Image3 = new QLabel(RbPanel1);
    Image3->setPixmap(QPixmap::fromImage(renderSvg(QStringLiteral(":/icons/mic-small.svg"), QSize(24, 24))));
    Image3->setGeometry(38, 608, 24, 24);
    Image2 = new QLabel(RbPanel1);
    Image2->setPixmap(
        QPixmap::fromImage(renderSvg(QStringLiteral(":/icons/speaker-small.svg"), QSize(24, 24))));
    Image2->setGeometry(140, 608, 24, 24);
}

void MainWindow::layoutAreas() {
    // The panel keeps its width at the right edge; the video area and its picture take the rest.
    // The preview panel and the two labels keep their places from the area's top-left corner.
    const int panelWidth = qMin(kPanelWidth, width());
    RbPanel1->setGeometry(width() - panelWidth, 0, panelWidth, height());
    Panel1->setGeometry(0, 0, width() - panelWidth, height());
    Image1->setGeometry(Panel1->rect());
    Image1->lower();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutAreas();
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !m_activated) {
        // Only the first activation starts the phone; returning from a dialog or a message box
        // activates the window again and must not repeat any of it.
        m_activated = true;
        const bool result = QWidget::event(event);
        runGuarded(m_context.messages, [this] { FormActivate(); });
        return result;
    }
    return QWidget::event(event);
}

void MainWindow::FormActivate() {
    // Qt widgets paint double-buffered already, so the video area and the preview never flicker.
    lblIPAddress->setText(m_context.network.isBound() ? m_context.network.bindAddress.toString()
                                                      : GetLocalIPAddress());
    LoadSettings();
    if (m_call) {
        m_call->resetState(); // FInCall, FRinging and FIncomingCall start clear
    }
    m_signalling->open();
    FJpegQuality = 100;
    pnlVideoArea->move(0, Panel1->height() - pnlVideoArea->height());
    TrbMic->setPosition(FMicVolume);
    quint16 left = 0;
    quint16 right = 0;
    TrbVoice->setPosition(GetSpeakerVolume(left, right) ? left : 32767);
    FMicLevel = FMicVolume;
    QCoreApplication::processEvents();
    StartVideo();
}

void MainWindow::LoadSettings() {
    QCoreApplication::processEvents();
    IniFile file(m_context.config.settingsPath());
    QStringList problems;
    const PhoneSettings s = loadPhoneSettings(file, lblIPAddress->text(), problems);
    if (m_call) {
        CallSettings& call = m_call->settings();
        call.ringTone = s.ringTone;
        call.ringTimeMs = s.ringTimeMs;
        call.unansweredMessage = s.message;
        call.callerId = s.callerId;
    }
    FMicVolume = s.micVolume;
    for (const QString& problem : problems) {
        showStandardError(m_context.messages, problem);
    }
}

void MainWindow::SaveSettings() {
    if (!m_context.config.ensureDirectory()) {
        throw Error(QStringLiteral("Unable to write to %1").arg(m_context.config.settingsPath()));
    }
    IniFile file(m_context.config.settingsPath());
    saveMicVolume(file, TrbMic->position());
}

void MainWindow::StartVideo() {
    FVideoStarted = false;
    CaptureController& capture = m_context.videoCap;
    try {
        capture.SetVideoPanel(pnlVideoArea);
        capture.SetStatusLabel(lblVideoArea);
        if (capture.CreateCaptureWindow()) {
            capture.StartPreview();
        }
        m_context.frames.InitFrameBuffers(capture);
    } catch (const std::exception&) {
        // Without a camera the phone still calls, but it receives no pictures this run.
        m_context.messages.error(
            QStringLiteral("Error"),
            QStringLiteral("WebCam not found. Try using a different codec eg. YUV2, RGB, or I420."));
        return;
    }
    try {
        UDPServer1->open();
    } catch (const Error& e) {
        // A taken video port is no camera fault: say what it is.
        m_context.messages.error(QStringLiteral("Error"), e.text());
        return;
    }
    FVideoPeerKnown = false;
    FVideoStarted = true;
}

void MainWindow::StopVideo() {
    if (FVideoStarted) {
        m_context.frames.FreeFrameBuffers();
    }
    m_context.videoCap.AbortCapture();
    m_context.videoCap.DestroyCaptureWindow();
}

QImage MainWindow::FrameCallback(const uchar* data, qsizetype size) {
    QImage picture = m_context.frames.FrameToBitmap(data, size);
    if (!picture.isNull()) {
        m_videoSender->sendFrame(picture); // nothing is encoded outside a call
    }
    return picture;
}

bool MainWindow::isSendingVideo() const {
    return m_call && m_call->sendVideo();
}

QString MainWindow::videoHost() const {
    return m_videoHost;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        m_closing = true;
        FormClose();
    }
    event->accept();
}

void MainWindow::FormClose() {
    // The microphone level is kept for the next run; a call in progress is not ended and the
    // peer is told nothing.
    try {
        SaveSettings();
        StopVideo();
    } catch (const Error& e) {
        m_context.messages.error(applicationTitle(), e.text());
    } catch (const std::exception& e) {
        m_context.messages.error(applicationTitle(), QString::fromUtf8(e.what()));
    }
    QCoreApplication::quit();
}

void MainWindow::btnExitClick() {
    close();
}

void MainWindow::SpeedButton8Click() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreLevel {
        MainWindow* self;
        ~RestoreLevel() {
            self->TrbMic->setPosition(self->FMicLevel);
            QApplication::restoreOverrideCursor();
        }
    } restore{this};
    if (isMaximized()) {
        showNormal();
    } else {
        showMaximized();
    }
}

void MainWindow::Panel1MouseDown(QWidget* source, QPoint globalPos) {
    m_drag->begin(source, globalPos);
}

void MainWindow::btnAddressClick() {
    if (auto* dialog = qobject_cast<QDialog*>(m_addressBook)) {
        dialog->exec();
    }
}

void MainWindow::SpeedButton5Click() {
    if (auto* dialog = qobject_cast<QDialog*>(m_settings)) {
        dialog->exec();
    }
}

void MainWindow::TrbMicChange() {
    Label3->setText(QString::number(TrbMic->position()));
    Label3->adjustSize();
    FMicLevel = TrbMic->position();
    if (VoiceSession* voice = m_call ? m_call->voiceSession() : nullptr) {
        voice->SetMicLevel(TrbMic->position());
    }
}

void MainWindow::TrbVoiceChange() {
    // Both channels get the slider's volume; a device without volume control is left alone.
    const quint32 p = quint32(TrbVoice->position());
    SetSpeakerVolume(p + p * 65536u);
}

void MainWindow::btnMuteClick() {
    if (!m_call || m_call->voiceSession() == nullptr) {
        return; // nothing to mute without a call
    }
    if (FMicLevel != 0) {
        FSavedMicLevel = TrbMic->position();
        FMicLevel = 0;
        TrbMic->setPosition(0);
    } else {
        FMicLevel = FSavedMicLevel;
        TrbMic->setPosition(FMicLevel);
    }
}

void MainWindow::onCallClicked() {
    if (m_call) {
        runGuarded(m_context.messages, [this] { m_call->onCallClicked(); });
    }
}

void MainWindow::onEndClicked() {
    if (m_call) {
        runGuarded(m_context.messages, [this] { m_call->onEndClicked(); });
    }
}

void MainWindow::detachCallSession() {
    if (m_call) {
        m_signalling->setHandler(nullptr);
        m_call.reset();
    }
}

void MainWindow::showStatusText(const QString& text) {
    lblVideoArea->setText(text);
}

void MainWindow::onRingTimeout() {
    if (m_call) {
        runGuarded(m_context.messages, [this] { m_call->onRingTimeout(); });
    }
}

void MainWindow::SpeedButton6Click() {
    takeSnapshot(*Image1);
}

bool MainWindow::GetSpeakerVolume(quint16& left, quint16& right) {
    const SpeakerVolumeReading r = m_context.speaker.GetSpeakerVolume();
    left = r.left;
    right = r.right;
    return r.ok;
}

bool MainWindow::SetSpeakerVolume(quint32 packed) {
    return m_context.speaker.SetSpeakerVolume(packed);
}

} // namespace talvora
