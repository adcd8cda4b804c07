#include "ui/MainWindow.h"

#include "call/RingTimer.h"
#include "phone/Phone.h"
#include "ui/PhoneAssembly.h"

#include "call/CallSession.h"
#include "call/SignalEndpoint.h"
#include "capture/ManualFrameTicker.h"
#include "capture/TestCamera.h"
#include "capture/V4L2Capture.h"
#include "convert/FrameBuffers.h"
#include "transport/JpegCodec.h"
#include "transport/VideoReceiver.h"
#include "ui/CallingDialog.h"
#include "ui/CaptureController.h"
#include "ui/DialogFrame.h"
#include "ui/PictureButton.h"
#include "ui/PictureView.h"
#include "ui/QtMessageService.h"
#include "ui/RbButton.h"
#include "ui/TrackBar.h"
#include "voice/FakeSpeakerVolume.h"
#include "voice/SpeakerVolume.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QWindow>

#include <gtest/gtest.h>

#include <optional>

#include "support/Controls.h"

#include <sys/fsuid.h>

#include "call/CallFakes.h"
#include "contacts/FakeNetworkSource.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"

namespace talvora {
namespace {

using test::FakeMessageService;
using test::ManualFrameTicker;
using test::waitUntil;

template <class T> T& control(PhoneAssembly& phone, const char* name) {
    return *test::control<T>(phone.mainWindow(), name);
}

void click(PhoneAssembly& phone, const char* button) {
    control<QPushButton>(phone, button).click();
}

CallSession& callSession(PhoneAssembly& phone) {
    return *phone.phone().callSession();
}

const QImage& idlePicture(PhoneAssembly& phone) {
    return control<PictureView>(phone, "Image1").idlePicture();
}

class MainWindowTest : public ::testing::Test {
protected:
    QTemporaryDir config;
    FakeMessageService messages;
    // The test camera, stepped by hand; `noCamera` makes the V4L2 back end find no device.
    bool noCamera = false;
    ManualFrameTicker* ticker = nullptr;
    FakeSpeakerVolume speaker;
    test::FakeVoiceFactory voice;

    std::unique_ptr<CaptureBackend> makeBackend() {
        if (noCamera) {
            return std::make_unique<V4L2Capture>(std::make_shared<SystemV4L2Device>(),
                                                 QStringLiteral("/nonexistent/video%1"));
        }
        auto t = std::make_unique<ManualFrameTicker>();
        ticker = t.get();
        return std::make_unique<TestCamera>(TestCameraConfig{}, std::move(t));
    }
    void writeSettings(const QByteArray& text) {
        QFile f(config.filePath("Settings.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray settingsFile() {
        QFile f(config.filePath("Settings.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The phone and its windows as the program wires them, over fakes. The network "Who's
    // Online?" walks holds two phones.
    std::unique_ptr<PhoneAssembly> makeWindow(const char* bindAddress = "127.0.0.20") {
        return std::make_unique<PhoneAssembly>(PhoneServices{
            .messages = messages,
            .speaker = speaker,
            .captureBackends = [this] { return makeBackend(); },
            .voice = voice,
            .ringTones = [] { return std::make_unique<test::FakeRingTonePlayer>(); },
            .ringTimers = [] { return std::make_unique<QtRingTimer>(); },
            .network = NetworkConfig{QHostAddress(QString(bindAddress))},
            .config = ConfigLocation(config.path(), config.path()),
            .networkSources =
                [this] {
                    auto source = std::make_unique<test::FakeNetworkSource>();
                    source->containers[""] = {
                        {kDisplayTypeServer, kUsageContainer, "\\\\anna.local", "Anna", "x"},
                        {kDisplayTypeServer, kUsageContainer, "\\\\bob.local", "Bob", "x"}};
                    net = source.get();
                    return source;
                },
        });
    }
    test::FakeNetworkSource* net = nullptr;
    // The program starts the phone, then shows the window.
    static void start(PhoneAssembly& phone) {
        phone.start();
        phone.mainWindow().show();
    }
    // ... and the user turns to it: it has the keyboard.
    static void startActive(PhoneAssembly& phone) {
        start(phone);
        phone.mainWindow().activateWindow();
        ASSERT_TRUE(waitUntil([&] { return phone.mainWindow().isActiveWindow(); }));
    }
};

TEST_F(MainWindowTest, LooksAsItShouldBeforeTheStart) {
    auto w = makeWindow();
    EXPECT_EQ(w->mainWindow().objectName(), "frmMain");
    EXPECT_EQ(w->mainWindow().windowTitle(), "Brisko Talvora Video Phone...");
    EXPECT_TRUE(w->mainWindow().windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w->mainWindow().windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->mainWindow().size(), QSize(1000, 650));
    EXPECT_EQ(control<QWidget>(*w, "RbPanel1").geometry(), QRect(800, 0, 200, 650));
    EXPECT_EQ(control<QWidget>(*w, "Panel1").geometry(), QRect(0, 0, 800, 650));
    EXPECT_EQ(control<QLineEdit>(*w, "edtHostName").text(), "Hailing Frequency...");
    EXPECT_EQ(control<QLineEdit>(*w, "edtHostName").geometry(), QRect(24, 152, 153, 24));
    EXPECT_EQ(control<PictureButton>(*w, "Image4").geometry(), QRect(24, 80, 48, 48));
    EXPECT_EQ(control<QPushButton>(*w, "btnEnd").geometry(), QRect(125, 80, 52, 52));
    EXPECT_FALSE(control<QPushButton>(*w, "btnCall").isVisibleTo(&w->mainWindow()));
    EXPECT_EQ(control<PictureButton>(*w, "Image6").toolTip(), "Hailing Frequencies...");
    EXPECT_EQ(control<QPushButton>(*w, "btnAddress").toolTip(), "Address Book...");
    EXPECT_EQ(control<PictureButton>(*w, "Image10").toolTip(), "Close Talvora");
    EXPECT_EQ(control<PictureButton>(*w, "Image4").cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").geometry(), QRect(32, 416, 35, 180));
    EXPECT_EQ(control<TrackBar>(*w, "TrbVoice").maximum(), 65535);
    EXPECT_EQ(control<QWidget>(*w, "pnlVideoArea").geometry(), QRect(0, 440, 250, 188));
    // No placeholder text before the camera speaks.
    EXPECT_EQ(control<QLabel>(*w, "lblVideoArea").text(), "");
    EXPECT_EQ(control<QLabel>(*w, "Label3").text(), "85");
    EXPECT_EQ(idlePicture(*w).size(), QSize(800, 600));
    EXPECT_FALSE(w->phone().signalling().isOpen()); // receivers stay closed until the start
}

TEST_F(MainWindowTest, StartWithoutSettingsFileUsesDefaults) {
    auto w = makeWindow();
    start(*w);
    EXPECT_EQ(control<QLabel>(*w, "lblIPAddress").text(),
              "127.0.0.20"); // the bound address is the one peers call
    EXPECT_EQ(callSession(*w).settings().ringTone, "");
    EXPECT_EQ(callSession(*w).settings().ringTimeMs, 10000);
    EXPECT_EQ(callSession(*w).settings().unansweredMessage, "Unanswered");
    EXPECT_EQ(callSession(*w).settings().callerId, "127.0.0.20");
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 85);
    EXPECT_EQ(control<QLabel>(*w, "Label3").text(), "85");
    EXPECT_EQ(w->phone().micLevel(), 85);
    EXPECT_EQ(w->phone().jpegQuality(), 100);
    EXPECT_EQ(control<QWidget>(*w, "pnlVideoArea").geometry(), QRect(0, 462, 250, 188));
    EXPECT_TRUE(w->phone().signalling().isOpen());
    EXPECT_TRUE(w->phone().videoReceiver().isOpen());
    EXPECT_TRUE(w->phone().videoStarted());
    EXPECT_TRUE(messages.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(config.filePath("Settings.ini")));
}

TEST_F(MainWindowTest, TestCameraPreviewRunsAndNothingIsSentOutsideACall) {
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress("127.0.0.22"), kVideoPort));
    auto w = makeWindow();
    control<QLineEdit>(*w, "edtHostName").setText("127.0.0.22");
    start(*w);
    ASSERT_NE(ticker, nullptr);
    EXPECT_EQ(w->phone().frames().formatKind(), FormatKind::YUY2);
    for (int i = 0; i < 3; ++i) {
        ticker->tick();
    }
    const QImage picture = w->phone().frames().frameBitmap();
    EXPECT_EQ(picture.size(), QSize(384, 288));
    test::pumpEvents(100);
    EXPECT_FALSE(peer.hasPendingDatagrams());
    EXPECT_FALSE(control<QLabel>(*w, "lblVideoArea").text().isEmpty());
}

TEST_F(MainWindowTest, NoCameraShowsTheWebCamMessageAndStillReceivesPictures) {
    noCamera = true;
    auto w = makeWindow();
    start(*w);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, FakeMessageService::Kind::Error);
    EXPECT_EQ(messages.boxes[0].text,
              "WebCam not found. No camera answered at /dev/video0 to /dev/video9. To try the phone "
              "without a camera, start it with --test-camera.");
    EXPECT_FALSE(w->phone().videoStarted());
    EXPECT_TRUE(w->phone().videoReceiver().isOpen());               // the caller's pictures still show
    EXPECT_FALSE(control<QWidget>(*w, "pnlVideoArea").isVisible()); // no black hole for a preview
    EXPECT_TRUE(w->phone().signalling().isOpen());                  // calls still work
    w->mainWindow().close(); // and shutting down without a camera is quiet
    EXPECT_EQ(messages.boxes.size(), 1);
}

// Outside a call anyone on the LAN can send to the picture port: nothing of it is shown, and its
// sender does not land in the address box for the user's next Call.
TEST_F(MainWindowTest, AnIdlePhoneNeitherShowsNorNamesAStrangersPictures) {
    auto w = makeWindow();
    control<QLineEdit>(*w, "edtHostName").setText("peer.example");
    start(*w);
    QImage sent(64, 48, QImage::Format_RGB888);
    sent.fill(QColor(200, 30, 30));
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.23"), 0));
    for (const QByteArray& datagram : {QByteArray("not a picture"), encodeJpeg(sent, 90)}) {
        stranger.writeDatagram(datagram, QHostAddress("127.0.0.20"), kVideoPort);
    }
    ASSERT_TRUE(waitUntil([&] { return w->phone().videoReceiver().counters().strangers == 2; }));
    test::pumpEvents(100);
    EXPECT_EQ(control<QLineEdit>(*w, "edtHostName").text(), "peer.example");
    EXPECT_EQ(control<PictureView>(*w, "Image1").picture(), idlePicture(*w));
    EXPECT_FALSE(w->phone().videoReceiver().peerKnown());
}

TEST_F(MainWindowTest, MicVolumeAboveRangeClampsSliderButKeepsLevel) {
    writeSettings("[Settings]\nmicVolume=150\n");
    auto w = makeWindow();
    start(*w);
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 100);
    EXPECT_EQ(control<QLabel>(*w, "Label3").text(), "100");
    EXPECT_EQ(w->phone().micLevel(), 150);
    // Maximise / restore applies the level through the slider again.
    click(*w, "SpeedButton8");
    EXPECT_EQ(w->phone().micLevel(), 100);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, BadRingTimeIsReportedAndThePhoneStillListens) {
    writeSettings("[Settings]\nRingTime=ten\nMessage=Away\nmicVolume=40\n");
    auto w = makeWindow();
    start(*w);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, FakeMessageService::Kind::Error);
    EXPECT_EQ(messages.boxes[0].caption, "Talvora Video Phone");
    EXPECT_EQ(messages.boxes[0].text, "'ten' is not a valid integer value.");
    EXPECT_EQ(callSession(*w).settings().ringTimeMs, 10000);
    EXPECT_EQ(callSession(*w).settings().unansweredMessage, "Away");
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 40);
    EXPECT_TRUE(w->phone().signalling().isOpen());
}

TEST_F(MainWindowTest, TakenSignallingPortStopsTheStartWithTheBindMessage) {
    QUdpSocket squatter;
    ASSERT_TRUE(squatter.bind(QHostAddress("127.0.0.21"), kSignalPort));
    auto w = makeWindow("127.0.0.21");
    start(*w);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].text, "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(w->phone().jpegQuality(), 0); // the steps after the port were not run
}

// A copy whose start-up stopped early never showed the saved level: Exit must not write the
// slider's untouched 0 over it (every call of the next run would be silent).
TEST_F(MainWindowTest, StartUpThatStoppedEarlyKeepsTheSavedMicrophoneLevel) {
    writeSettings("[Settings]\r\nmicVolume=60\r\n");
    QUdpSocket squatter;
    ASSERT_TRUE(squatter.bind(QHostAddress("127.0.0.21"), kSignalPort));
    auto w = makeWindow("127.0.0.21");
    start(*w);
    w->mainWindow().close();
    EXPECT_EQ(settingsFile(), "[Settings]\r\nmicVolume=60\r\n");
}

// Texts from the wire are shown as they are: markup in a caller ID or a status text is text, and
// a long caller ID keeps its start in view.
TEST_F(MainWindowTest, PeerTextsArePlainAndLongCallerIdsAreElidedAtTheEnd) {
    auto w = makeWindow();
    start(*w);
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress("127.0.0.22"), 0));
    const QString markup =
        QStringLiteral("<b>Bob</b> <font color=red size=6>RED</font><img src=\"/dev/zero\">");
    peer.writeDatagram("Calling|" + markup.toUtf8(), QHostAddress("127.0.0.20"), kSignalPort);
    auto& caller = control<QLabel>(*w, "lblCallerID");
    ASSERT_TRUE(waitUntil([&] { return !caller.text().isEmpty(); }));
    EXPECT_EQ(caller.textFormat(), Qt::PlainText);
    EXPECT_TRUE(caller.text().startsWith(QStringLiteral("<b>Bob</b>"))) << caller.text().toStdString();
    EXPECT_EQ(control<QLabel>(*w, "lblVideoArea").textFormat(), Qt::PlainText);
    auto* calling = w->mainWindow().findChild<QWidget*>(QStringLiteral("frmCalling"));
    ASSERT_NE(calling, nullptr);
    EXPECT_EQ(calling->findChild<QLabel*>(QStringLiteral("Label1"))->textFormat(), Qt::PlainText);
    click(*w, "btnEnd"); // ringing: End does nothing; let the ring run out instead
    callSession(*w).onRingTimeout();

    const QString longId = QStringLiteral("Alice-") + QString(2040, QLatin1Char('x'));
    peer.writeDatagram("Calling|" + longId.toUtf8(), QHostAddress("127.0.0.20"), kSignalPort);
    ASSERT_TRUE(waitUntil([&] { return caller.text().startsWith(QStringLiteral("Alice-")); }));
    EXPECT_TRUE(caller.text().endsWith(QChar(0x2026)));
    EXPECT_LE(caller.fontMetrics().horizontalAdvance(caller.text()), caller.width());
    EXPECT_TRUE(caller.toolTip().contains(longId));
}

// "Video Format" with the camera gone is an error box, not the end of the program; Escape
// leaves the dialog as Close does.
TEST_F(MainWindowTest, VideoFormatWithTheCameraGoneShowsAnErrorAndEscapeActsAsClose) {
    auto w = makeWindow();
    start(*w);
    auto* options = w->mainWindow().findChild<QDialog*>(QStringLiteral("frmVideoOptions"));
    ASSERT_NE(options, nullptr);
    options->show();
    auto& format = *options->findChild<RbButton*>(QStringLiteral("btnFormat"));
    ASSERT_TRUE(format.isEnabled());
    w->capture().backend()->disconnectDriver(); // unplugged while the dialog is open
    messages.boxes.clear();
    format.click();
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_TRUE(messages.boxes[0].text.startsWith("WebCam not found."))
        << messages.boxes[0].text.toStdString();

    QTest::keyClick(options, Qt::Key_Escape);
    EXPECT_FALSE(options->isVisible());
    EXPECT_FALSE(format.isEnabled());
}

// The phone listens from its start, whether or not its window was ever shown or focused (a
// desktop that focuses no new window, a compositor that decides itself); it starts once.
TEST_F(MainWindowTest, StartsOnceWithoutEverBeingShownOrFocused) {
    auto w = makeWindow();
    w->start();
    EXPECT_FALSE(w->mainWindow().isVisible());
    EXPECT_TRUE(w->phone().signalling().isOpen());
    control<TrackBar>(*w, "TrbMic").setPosition(40);
    w->start();
    w->mainWindow().show();
    w->mainWindow().activateWindow();
    test::pumpEvents(100);
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 40); // a second start would have reset it to 85
}

TEST_F(MainWindowTest, SliderSetFromCodeAlwaysRunsItsHandler) {
    auto w = makeWindow();
    int changes = 0;
    QObject::connect(&control<TrackBar>(*w, "TrbVoice"), &TrackBar::changed, [&] { ++changes; });
    control<TrackBar>(*w, "TrbVoice").setPosition(70000);
    EXPECT_EQ(control<TrackBar>(*w, "TrbVoice").position(), 65535);
    control<TrackBar>(*w, "TrbVoice").setPosition(65535);
    EXPECT_EQ(changes, 2);
    control<TrackBar>(*w, "TrbMic").setPosition(-4);
    EXPECT_EQ(control<QLabel>(*w, "Label3").text(), "0");
    EXPECT_EQ(w->phone().micLevel(), 0);
}

TEST_F(MainWindowTest, ClosingStoresTheMicrophoneSliderAndKeepsOtherKeys) {
    writeSettings("[Settings]\nRingTime=5\nmicVolume=85\n");
    auto w = makeWindow();
    start(*w);
    control<TrackBar>(*w, "TrbMic").setPosition(0);
    click(*w, "btnExit");
    EXPECT_FALSE(w->mainWindow().isVisible());
    EXPECT_EQ(settingsFile(), "[Settings]\nRingTime=5\nmicVolume=0\n");
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(MainWindowTest, ClosingWithReadOnlySettingsShowsTheErrorAndStillEnds) {
    writeSettings("[Settings]\nmicVolume=85\n");
    auto w = makeWindow();
    start(*w);
    QFile::setPermissions(config.path(),
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    QFile::setPermissions(config.filePath("Settings.ini"), QFile::ReadOwner | QFile::ReadOther);
    const int old = ::setfsuid(65534); // root would ignore the permissions
    w->mainWindow().close();
    ::setfsuid(old);
    QFile::setPermissions(config.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].text, "Unable to write to " + config.filePath("Settings.ini"));
    EXPECT_FALSE(w->mainWindow().isVisible());
    EXPECT_EQ(settingsFile(), "[Settings]\nmicVolume=85\n");
}

TEST_F(MainWindowTest, AnyMouseButtonOnPanelOrPictureStartsAMove) {
    auto w = makeWindow();
    start(*w);
    const QPoint start = w->mainWindow().pos();
    // Without a window manager the system move is refused and the window follows the mouse.
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 300),
                          control<QWidget>(*w, "RbPanel1").mapToGlobal(QPointF(5, 300)), button, button,
                          Qt::NoModifier);
        QApplication::sendEvent(&control<QWidget>(*w, "RbPanel1"), &press);
        QMouseEvent move(QEvent::MouseMove, QPointF(25, 310),
                         control<QWidget>(*w, "RbPanel1").mapToGlobal(QPointF(5, 300)) + QPointF(20, 10),
                         Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(&control<QWidget>(*w, "RbPanel1"), &move);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(25, 310), QPointF(), button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&control<QWidget>(*w, "RbPanel1"), &release);
    }
    EXPECT_EQ(w->mainWindow().pos(), start + QPoint(60, 30));
}

TEST_F(MainWindowTest, ShowsWhatThePhoneSignals) {
    auto w = makeWindow();
    start(*w);
    Phone& phone = w->phone();
    auto& host = control<QLineEdit>(*w, "edtHostName");
    emit phone.callerIdText("Bob hailing...");
    EXPECT_EQ(control<QLabel>(*w, "lblCallerID").text(), "Bob hailing...");
    emit phone.hostTextChanged("10.0.0.2");
    EXPECT_EQ(host.text(), "10.0.0.2");
    emit phone.statusText("Voice engine ready");
    EXPECT_EQ(control<QLabel>(*w, "lblVideoArea").text(), "Voice engine ready");
    host.setText("typed.example"); // and the phone reads what is typed
    EXPECT_EQ(phone.hostText(), "typed.example");
    emit phone.attentionRequested(); // no window manager here: nothing visible, and nothing breaks

    startActive(*w);
    host.clearFocus();
    emit phone.hostFocusRequested();
    EXPECT_TRUE(host.hasFocus());
    host.clearFocus();
    host.setEnabled(false);
    emit phone.hostFocusRequested(); // a disabled field cannot take the focus
    EXPECT_FALSE(host.hasFocus());
}

// Tab walks the panel as it reads, from the host field round to it again; everything it visits
// tells a screen reader its name, and its hint when it has one, and shows where the focus is.
TEST_F(MainWindowTest, TabVisitsEveryControlInReadingOrderAndEachHasANameAndDescription) {
    auto w = makeWindow();
    startActive(*w);
    control<QLineEdit>(*w, "edtHostName").setFocus();
    const QStringList order = {"Image4",  "Image5",  "Image7", "Image6",   "Image9",     "Image8",
                               "Image11", "Image10", "TrbMic", "TrbVoice", "edtHostName"};
    QStringList visited;
    for (int i = 0; i < order.size(); ++i) {
        QWidget* before = QApplication::focusWidget();
        const QImage focusedLook = before->grab().toImage();
        QTest::keyClick(before, Qt::Key_Tab);
        if (qobject_cast<PictureButton*>(before) != nullptr) {
            EXPECT_NE(before->grab().toImage(), focusedLook) << before->objectName().toStdString();
        }
        QWidget* focused = QApplication::focusWidget();
        visited << focused->objectName();
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(focused);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << visited.last().toStdString();
        EXPECT_FALSE(a->text(QAccessible::Description).isEmpty()) << visited.last().toStdString();
        if (!focused->toolTip().isEmpty()) {
            EXPECT_EQ(a->text(QAccessible::Description), focused->toolTip()) << visited.last().toStdString();
        }
    }
    EXPECT_EQ(visited, order);
    const std::pair<const char*, const char*> spoken[] = {
        {"Image4", "Call"}, {"Image5", "End"}, {"TrbMic", "Microphone Level"}};
    for (const auto& [object, name] : spoken) {
        EXPECT_EQ(
            QAccessible::queryAccessibleInterface(&control<QWidget>(*w, object))->text(QAccessible::Name),
            name);
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&control<QWidget>(*w, "Image4"))->role(),
              QAccessible::Button);
}

TEST_F(MainWindowTest, MaximiseAndRestoreKeepThePreviewAndTheLinesInTheirCorners) {
    auto w = makeWindow();
    startActive(*w);
    MainWindow& main = w->mainWindow();
    const QString longCaller = QString(200, QLatin1Char('B'));
    emit w->phone().callerIdText(longCaller);
    const QSize screen = main.screen()->availableGeometry().size();
    const struct {
        const char* state;
        QSize window;
        QRect preview, status, caller;
    } layouts[] = {
        {"maximised", screen, QRect(0, screen.height() - 188, 250, 188),
         QRect(256, screen.height() - 18, screen.width() - 200 - 255, 16),
         QRect(8, 5, screen.width() - 200 - 15, 16)},
        {"restored", QSize(1000, 650), QRect(0, 462, 250, 188), QRect(256, 632, 545, 16),
         QRect(8, 5, 785, 16)},
    };
    ASSERT_NE(screen, QSize(1000, 650));
    for (const auto& l : layouts) {
        click(*w, "SpeedButton8");
        ASSERT_TRUE(waitUntil([&] { return main.size() == l.window; })) << l.state;
        EXPECT_EQ(control<QWidget>(*w, "RbPanel1").geometry(),
                  QRect(l.window.width() - 200, 0, 200, l.window.height()))
            << l.state;
        EXPECT_EQ(control<QWidget>(*w, "pnlVideoArea").geometry(), l.preview) << l.state;
        EXPECT_EQ(control<QLabel>(*w, "lblVideoArea").geometry(), l.status) << l.state;
        EXPECT_EQ(control<QLabel>(*w, "lblCallerID").geometry(), l.caller) << l.state;
        // The caller line is cut again for its new width.
        const QLabel& caller = control<QLabel>(*w, "lblCallerID");
        EXPECT_EQ(caller.text(),
                  caller.fontMetrics().elidedText(longCaller, Qt::ElideRight, l.caller.width()))
            << l.state;
    }
}

// Every dialog and message box names the phone's window as its parent, so that the window
// system puts it over the phone (Wayland ignores where a program places its windows).
TEST_F(MainWindowTest, DialogsAndMessageBoxesAreTransientForThePhonesWindow) {
    auto w = makeWindow();
    start(*w);
    QWindow* phoneWindow = w->mainWindow().windowHandle();
    // And each of its controls has a name for screen readers.
    auto expectOverThePhone = [&](QWidget& dialog) {
        dialog.show();
        EXPECT_EQ(dialog.windowHandle()->transientParent(), phoneWindow) << dialog.objectName().toStdString();
        for (QWidget* c : dialog.findChildren<QWidget*>()) {
            if (c->isVisible() && (c->focusPolicy() & Qt::TabFocus) && !c->focusProxy()) {
                EXPECT_FALSE(QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name).isEmpty())
                    << dialog.metaObject()->className() << " " << c->metaObject()->className() << " "
                    << c->objectName().toStdString();
            }
        }
        dialog.hide();
    };
    // The windows after the main one, but the voice engine's host, which is never shown.
    for (QWidget* dialog : w->windowsInCreationOrder().mid(1, 6)) {
        expectOverThePhone(*dialog);
    }
    int captureDialogs = 0;
    w->capture().setDialogRunner([&](QDialog& dialog) {
        ++captureDialogs;
        expectOverThePhone(dialog);
    });
    w->capture().showSourceDialog();
    w->capture().showFormatDialog();
    EXPECT_EQ(captureDialogs, 2);

    // A box stands over the phone, or over the dialog the user is in.
    QtMessageService boxes;
    boxes.setParent(&w->mainWindow());
    auto* settings = w->windowsInCreationOrder().at(5);
    for (QWidget* over : {static_cast<QWidget*>(&w->mainWindow()), settings}) {
        if (over == settings) {
            openOverEverything(*qobject_cast<QDialog*>(settings));
        }
        std::optional<bool> answer;
        boxes.ask("Talvora Video Phone", "a question", [&](bool yes) { answer = yes; });
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowHandle()->transientParent(), over->windowHandle());
        EXPECT_FALSE(answer); // nothing waits for it
        box->done(QMessageBox::No);
        EXPECT_TRUE(waitUntil([&] { return answer == false; }));
        settings->hide();
    }
}

} // namespace
} // namespace talvora

namespace talvora {
namespace {

// Levels with a call: a call request rings, Call answers it, and the fake engine logs what the
// session was told.
class LevelControlsTest : public MainWindowTest {
protected:
    std::unique_ptr<PhoneAssembly> w;
    void SetUp() override {
        w = makeWindow("127.0.0.24");
        start(*w);
    }
    void connectCall() {
        callSession(*w).callRequestReceived("Bob", "127.0.0.25");
        click(*w, "btnCall");
        ASSERT_NE(callSession(*w).voiceSession(), nullptr);
    }
    QStringList levelsSent() const { return voice.log.filter("SetMicLevel"); }
};

// A whole call from the keyboard: Enter in the host field answers as the Call picture does, then
// the pictures take the focus with Tab and Space or Enter press them.
TEST_F(LevelControlsTest, AnsweredMutedAndEndedFromTheKeyboard) {
    auto tabTo = [](const char* name) {
        for (int i = 0; i < 12 && QApplication::focusWidget()->objectName() != name; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        return QApplication::focusWidget()->objectName() == name;
    };
    startActive(*w);
    control<QLineEdit>(*w, "edtHostName").setFocus();
    callSession(*w).callRequestReceived("Bob", "127.0.0.25");
    QTest::keyClick(&control<QLineEdit>(*w, "edtHostName"), Qt::Key_Return);
    ASSERT_NE(callSession(*w).voiceSession(), nullptr);

    ASSERT_TRUE(tabTo("Image11"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 85);

    ASSERT_TRUE(tabTo("Image5"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(callSession(*w).voiceSession(), nullptr);
}

TEST_F(LevelControlsTest, MuteWithoutACallChangesNothing) {
    control<TrackBar>(*w, "TrbMic").setPosition(60);
    click(*w, "btnMute");
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 60);
    EXPECT_EQ(control<QLabel>(*w, "Label3").text(), "60");
    EXPECT_EQ(w->phone().micLevel(), 60);
    EXPECT_EQ(w->phone().savedMicLevel(), 0);
}

TEST_F(LevelControlsTest, MuteAndUnmuteDuringACall) {
    control<TrackBar>(*w, "TrbMic").setPosition(60);
    connectCall();
    EXPECT_EQ(levelsSent(), QStringList{"#1 SetMicLevel 60"}); // the call starts at the slider's level
    click(*w, "btnMute");
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 0);
    EXPECT_EQ(control<QLabel>(*w, "Label3").text(), "0");
    click(*w, "btnMute");
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 60);
    EXPECT_EQ(control<QLabel>(*w, "Label3").text(), "60");
    EXPECT_EQ(levelsSent(), (QStringList{"#1 SetMicLevel 60", "#1 SetMicLevel 0", "#1 SetMicLevel 60"}));
}

TEST_F(LevelControlsTest, MutedBeforeTheCallStaysSilentAndFirstMuteUnmutes) {
    connectCall();
    click(*w, "btnMute"); // muted during a first call, at 85
    click(*w, "btnEnd");
    connectCall();
    EXPECT_EQ(levelsSent().last(), "#2 SetMicLevel 0"); // not put on the air behind a slider at 0
    click(*w, "btnMute");
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 85);
    EXPECT_EQ(levelsSent().last(), "#2 SetMicLevel 85");
}

TEST_F(LevelControlsTest, SliderDraggedToZeroThenMuteKeepsZero) {
    connectCall();
    control<TrackBar>(*w, "TrbMic").setPosition(0);
    click(*w, "btnMute");
    EXPECT_EQ(control<TrackBar>(*w, "TrbMic").position(), 0);
    EXPECT_EQ(w->phone().micLevel(), 0);
}

TEST_F(LevelControlsTest, MaximiseDuringACallSendsTheLevelAgain) {
    connectCall();
    control<TrackBar>(*w, "TrbMic").setPosition(30);
    click(*w, "SpeedButton8");
    EXPECT_EQ(levelsSent().last(), "#1 SetMicLevel 30");
    click(*w, "SpeedButton8");
}

TEST_F(MainWindowTest, MicVolumeAboveRangeThenMuteSavesTheClampedLevel) {
    writeSettings("[Settings]\nmicVolume=150\n");
    auto w = makeWindow("127.0.0.26");
    start(*w);
    callSession(*w).callRequestReceived("Bob", "127.0.0.27");
    click(*w, "btnCall");
    EXPECT_EQ(w->phone().micLevel(), 150);
    click(*w, "btnMute");
    EXPECT_EQ(w->phone().savedMicLevel(), 100);
}

TEST_F(MainWindowTest, SpeakerVolumeStartsFromTheLeftChannelAndWritesBoth) {
    speaker.left = 40000;
    speaker.right = 20000;
    auto w = makeWindow();
    start(*w);
    auto& slider = control<TrackBar>(*w, "TrbVoice");
    ASSERT_TRUE(waitUntil([&] { return slider.position() == 40000; })); // as the server answered
    ASSERT_TRUE(waitUntil([&] { return speaker.right == 40000; }));     // and written back to both
    EXPECT_EQ(speaker.left, 40000);
    for (const quint16 position : {quint16(65535), quint16(0)}) {
        slider.setPosition(position);
        EXPECT_TRUE(waitUntil([&] { return speaker.left == position && speaker.right == position; }));
    }
}

TEST_F(MainWindowTest, SpeakerWithoutVolumeControlLeavesTheSliderAtMiddle) {
    speaker.hasVolumeControl = false;
    auto w = makeWindow();
    start(*w);
    EXPECT_TRUE(waitUntil([&] { return control<TrackBar>(*w, "TrbVoice").position() == 32767; }));
    test::pumpEvents(100);
    EXPECT_EQ(speaker.writes, 0);
}

// "Who's Online?" from the address book, as a user meets it: the walk starts with the discovery
// up and the address book out of reach, so that neither a second click nor Close can cut in;
// what the walk adds reaches the file when the address book closes, and a walk abandoned by
// closing the discovery leaves file and list as they were.
TEST_F(MainWindowTest, WhosOnlineWalksWithTheAddressBookOutOfReachAndKeepsWhatItAdds) {
    for (bool abandon : {true, false}) {
        SCOPED_TRACE(abandon ? "closed during the walk" : "added");
        auto w = makeWindow();
        start(*w);
        QFile file(config.filePath("IPAddress.dat"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Carol <carol.lan>\r\n");
        file.close();
        net->holdRefresh = true;
        click(*w, "btnAddress");
        auto& book = *test::control<QDialog>(w->mainWindow(), "frmIP");
        auto& discovery = *test::control<QDialog>(w->mainWindow(), "frmNetworkClients");
        ASSERT_TRUE(book.isVisible());
        test::control<RbButton>(book, "btnOnline")->click();
        ASSERT_TRUE(waitUntil([&] { return net->pending(); }));
        EXPECT_EQ(QApplication::activeModalWidget(), &discovery);
        EXPECT_TRUE(QApplication::activeModalWidget() != &book); // the book takes no clicks meanwhile
        if (abandon) {
            discovery.reject();
        } else {
            net->release();
            test::control<RbButton>(discovery, "btnAdd")->click();
        }
        EXPECT_FALSE(discovery.isVisible());
        ASSERT_TRUE(book.isVisible());
        test::control<RbButton>(book, "btnClose")->click();
        EXPECT_FALSE(book.isVisible());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(),
                  abandon ? QByteArray("Carol <carol.lan>\r\n")
                          : QByteArray("Anna <anna.local>\r\nBob <bob.local>\r\nCarol <carol.lan>\r\n"));
        file.close();
        // The address book opens again.
        click(*w, "btnAddress");
        EXPECT_TRUE(book.isVisible());
        test::control<RbButton>(book, "btnClose")->click();
    }
}

} // namespace
} // namespace talvora
