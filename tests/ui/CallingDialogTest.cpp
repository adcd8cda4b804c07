// The calling dialog on a headless screen, alone and under a call session.

#include "ui/CallingDialog.h"
#include "call/FakePhone.h"
#include "support/EventLoop.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include "ui/RxDice.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "support/Controls.h"

#include <functional>
#include <stdexcept>
#include <string>

namespace talvora {
namespace {

// Finds a control of the dialog by its object name; a missing one fails the test.
using test::control;

TEST(CallingDialog, LayoutAndLook) {
    CallingDialog dlg;
    EXPECT_EQ(dlg.size(), QSize(383, 134));
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg.windowTitle(), "Calling Status");
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->geometry(), QRect(0, 0, 383, 134));
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->color(), QColor(0, 111, 164));
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->cornerWidth(), 25);
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->borderWidth(), 5);
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->borderColor(), QColor(Qt::white));
    EXPECT_FALSE(control<RbPanel>(dlg, "RbPanel1")->hasGradient());
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->geometry(), QRect(8, 16, 369, 33));
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->text(), "Hailing...");
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->font().pixelSize(), 21);
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->font().family(), "Arial");
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->alignment(), Qt::AlignCenter);
    EXPECT_EQ(control<RbButton>(dlg, "btnCancel")->geometry(), QRect(280, 72, 75, 41));
    EXPECT_EQ(control<RbButton>(dlg, "btnCancel")->text(), "Cancel");
    EXPECT_EQ(control<RxDice>(dlg, "RxDice1")->geometry(), QRect(24, 48, 66, 66));
    EXPECT_EQ(control<RxDice>(dlg, "RxDice1")->value(), 1);
    EXPECT_FALSE(control<RxDice>(dlg, "RxDice1")->rotating());
}

TEST(CallingDialog, LongStatusStaysOnOneCentredClippedLine) {
    CallingDialog dlg;
    dlg.setStatusLine(QString(200, QLatin1Char('W')));
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->geometry(), QRect(8, 16, 369, 33));
    QImage img(control<QLabel>(dlg, "Label1")->size(), QImage::Format_RGB32);
    img.fill(Qt::black);
    control<QLabel>(dlg, "Label1")->render(&img);
    auto columnHasText = [&](int x) {
        for (int y = 0; y < img.height(); ++y) {
            if (qGray(img.pixel(x, y)) > 128) {
                return true;
            }
        }
        return false;
    };
    // Text runs to both edges (and beyond, cut off there): centred, not left-aligned.
    EXPECT_TRUE(columnHasText(1) || columnHasText(2) || columnHasText(3));
    EXPECT_TRUE(columnHasText(img.width() - 2) || columnHasText(img.width() - 3) ||
                columnHasText(img.width() - 4));
}

TEST(CallingDialog, BlocksTheMainWindowUntilClosedCentredOnItAndDeafToEscape) {
    QWidget main;
    main.setGeometry(100, 60, 1000, 650);
    main.show();
    CallingDialog dlg(&main);
    dlg.startAnimation();
    dlg.showDialog(); // returns at once: nothing waits in it
    ASSERT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.windowModality(), Qt::WindowModal);
    EXPECT_TRUE(QApplication::activeModalWidget() == &dlg);
    const QPoint centre = dlg.geometry().center();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close(); // the window manager's close
    EXPECT_TRUE(dlg.isVisible());
    dlg.closeDialog();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_LE((centre - main.geometry().center()).manhattanLength(), 2);
    // Closing does not stop the die; a status text does, even while hidden.
    EXPECT_TRUE(control<RxDice>(dlg, "RxDice1")->rotating());
    dlg.stopAnimation();
    dlg.setStatusLine("Unanswered");
    EXPECT_FALSE(control<RxDice>(dlg, "RxDice1")->rotating());
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->text(), "Unanswered");
    dlg.closeDialog(); // closing a hidden dialog is harmless
}

// The call session with the real dialog.
struct SessionWithDialog {
    SessionWithDialog()
        : session(CallSessionParts{
              sender, voice, timer, tone, window, dialog, messages,
              [](const QString& host, QObject*, HostLookupDone done) { done(test::fakeLookupNow(host)); }}) {
        session.settings().callerId = QStringLiteral("Alice");
        window.host = QStringLiteral("10.0.0.2");
        dialog.setCancelHandler([this] { session.onCancelClicked(); });
    }
    test::RecordingSignalSender sender;
    test::FakeVoiceFactory voice;
    test::FakeRingTimer timer;
    test::FakeRingTonePlayer tone;
    test::FakeCallWindow window;
    test::FakeMessageService messages;
    CallingDialog dialog;
    CallSession session;
};

// Calling shows the dialog and returns; the peer's accept, or Cancel, closes it later.
TEST(CallingDialog, AcceptOrCancelEndsTheWait) {
    for (bool accept : {true, false}) {
        SCOPED_TRACE(accept ? "accept" : "cancel");
        SessionWithDialog s;
        s.session.onCallClicked();
        ASSERT_TRUE(s.dialog.isVisible());
        EXPECT_TRUE(control<RxDice>(s.dialog, "RxDice1")->rotating());
        test::deliverSignal(s.session, "Busy", "10.0.0.2");
        EXPECT_EQ(control<QLabel>(s.dialog, "Label1")->text(), "Busy");
        if (accept) {
            test::deliverSignal(s.session, "Accept", "10.0.0.2");
            EXPECT_TRUE(s.session.sendVideo());
            EXPECT_EQ(s.voice.log.last(), "#1 Start");
        } else {
            QTest::mouseClick(control<RbButton>(s.dialog, "btnCancel"), Qt::LeftButton);
            EXPECT_FALSE(s.session.inCall());
            EXPECT_EQ(s.sender.sent.last(), (test::SentDatagram{"10.0.0.2", "Cancel"}));
        }
        EXPECT_FALSE(s.dialog.isVisible());
    }
}

} // namespace
} // namespace talvora
