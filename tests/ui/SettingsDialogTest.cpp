// The settings dialog on a headless screen, writing a real settings file in a temporary
// directory.

#include "ui/SettingsDialog.h"
#include "call/FakePhone.h"
#include "call/UnansweredMessage.h"
#include "settings/IniFile.h"
#include "settings/SettingsStore.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include "ui/RbSpinEdit.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "support/Controls.h"

#include <stdexcept>
#include <string>

namespace talvora {
namespace {

// Finds a control of the dialog by its object name; a missing one fails the test.
using test::control;

// The dialog's owner over a PhoneSettings held by the test.
SettingsOwner ownerOf(PhoneSettings& settings) {
    return {[&settings] { return settings; }, [&settings](const PhoneSettings& s) { settings = s; }};
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() {
        fields.ringTone = QStringLiteral("/sounds/ring.wav");
        fields.ringTimeMs = 10000;
        fields.unansweredMessage = QStringLiteral("Unanswered");
        fields.callerId = QStringLiteral("192.168.1.20");
    }

    // Opens the dialog as the main window does, but without blocking the test.
    void open() {
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    }

    QTemporaryDir dir;
    QString path = dir.filePath("Settings.ini");
    PhoneSettings fields;
    test::FakeMessageService messages;
    SettingsDialog dlg{SettingsStore(path), ownerOf(fields), messages};
};

TEST_F(SettingsDialogTest, Layout) {
    EXPECT_EQ(dlg.size(), QSize(474, 231));
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg.windowTitle(), "Settings");
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->color(), QColor(0, 111, 164));
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->cornerWidth(), 25);
    EXPECT_EQ(control<RbPanel>(dlg, "RbPanel1")->borderWidth(), 5);
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->text(), "Ring Tone");
    EXPECT_EQ(control<QLabel>(dlg, "Label2")->text(), "Ring Time (sec)");
    EXPECT_EQ(control<QLabel>(dlg, "Label3")->text(), "Unanswered Message");
    EXPECT_EQ(control<QLabel>(dlg, "Label4")->text(), "Caller ID");
    EXPECT_EQ(control<QLabel>(dlg, "Label3")->pos(), QPoint(16, 107));
    EXPECT_TRUE(control<QLabel>(dlg, "Label1")->font().bold());
    EXPECT_EQ(control<QLabel>(dlg, "Label1")->font().pixelSize(), 11);
    EXPECT_EQ(control<QLineEdit>(dlg, "edtRingTone")->geometry(), QRect(144, 24, 281, 21));
    EXPECT_EQ(control<RbButton>(dlg, "RbButton1")->geometry(), QRect(432, 22, 25, 25));
    EXPECT_EQ(control<RbButton>(dlg, "RbButton1")->text(), "...");
    EXPECT_EQ(control<RbSpinEdit>(dlg, "sedRingTime")->geometry(), QRect(144, 64, 41, 22));
    EXPECT_EQ(control<RbSpinEdit>(dlg, "sedRingTime")->minimum(), 1);
    EXPECT_EQ(control<RbSpinEdit>(dlg, "sedRingTime")->maximum(), 30);
    EXPECT_EQ(control<QLineEdit>(dlg, "edtMessage")->geometry(), QRect(144, 104, 241, 21));
    EXPECT_EQ(control<QLineEdit>(dlg, "edtMessage")->maxLength(), 50);
    EXPECT_EQ(control<QLineEdit>(dlg, "edtCallerID")->geometry(), QRect(144, 144, 241, 21));
    EXPECT_EQ(control<QLineEdit>(dlg, "edtCallerID")->maxLength(), 50);
    EXPECT_EQ(control<RbButton>(dlg, "btnSave")->geometry(), QRect(16, 184, 75, 25));
    EXPECT_EQ(control<RbButton>(dlg, "btnClose")->geometry(), QRect(384, 184, 75, 25));
    EXPECT_EQ(control<RbButton>(dlg, "btnVideoOptions")->geometry(), QRect(200, 184, 89, 25));
    EXPECT_EQ(control<RbButton>(dlg, "btnVideoOptions")->text(), "Video Options");
    EXPECT_EQ(
        SettingsDialog::ringToneFilter(),
        "Supported Media Files (*.mp3 *.wav *.wma);;MP3 (*.mp3);;Wave (*.wav);;Windows Media Audio (*.wma)");

    QList<QWidget*> expected = {
        control<QLineEdit>(dlg, "edtRingTone"),  control<RbButton>(dlg, "RbButton1"),
        control<RbSpinEdit>(dlg, "sedRingTime"), control<QLineEdit>(dlg, "edtMessage"),
        control<QLineEdit>(dlg, "edtCallerID"),  control<RbButton>(dlg, "btnSave"),
        control<RbButton>(dlg, "btnClose"),      control<RbButton>(dlg, "btnVideoOptions")};
    QWidget* w = control<QLineEdit>(dlg, "edtRingTone");
    for (QWidget* next : expected.mid(1)) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !expected.contains(w)) {
            w = w->nextInFocusChain();
        }
        EXPECT_EQ(w, next) << next->objectName().toStdString();
    }
}

TEST_F(SettingsDialogTest, OpeningFillsFromTheFieldsWithTheRingTimeInRange) {
    struct Case {
        int ringTimeMs;
        const char* shown;
    } cases[] = {{0, "1"},      {999, "1"},    {1999, "1"},  {5000, "5"},    {5999, "5"},
                 {30000, "30"}, {45000, "30"}, {-3000, "1"}, {100000, "30"}, {2147483647, "30"}};
    for (const auto& c : cases) {
        fields.ringTimeMs = c.ringTimeMs;
        open();
        EXPECT_EQ(control<RbSpinEdit>(dlg, "sedRingTime")->text(), c.shown) << c.ringTimeMs;
        EXPECT_EQ(control<QLineEdit>(dlg, "edtRingTone")->text(), "/sounds/ring.wav");
        EXPECT_EQ(control<QLineEdit>(dlg, "edtMessage")->text(), "Unanswered");
        EXPECT_EQ(control<QLineEdit>(dlg, "edtCallerID")->text(), "192.168.1.20");
        EXPECT_TRUE(control<QLineEdit>(dlg, "edtRingTone")->hasFocus());
        control<RbButton>(dlg, "btnClose")->click();
    }
}

TEST_F(SettingsDialogTest, EnterWalksTheFieldsToSaveAndOnceMoreSaves) {
    fields.ringTimeMs = 0;
    open();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(control<RbSpinEdit>(dlg, "sedRingTime")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    EXPECT_TRUE(control<QLineEdit>(dlg, "edtMessage")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(control<QLineEdit>(dlg, "edtCallerID")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(control<RbButton>(dlg, "btnSave")->hasFocus());
    EXPECT_TRUE(dlg.isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    // A ring time of 0 showed as 1, and 1 is what was saved.
    EXPECT_EQ(fields.ringTimeMs, 1000);
    EXPECT_EQ(IniFile(path).readString("Settings", "RingTime", ""), "1");
}

TEST_F(SettingsDialogTest, OtherKeysAreLeftToEditing) {
    open();
    control<QLineEdit>(dlg, "edtMessage")->setFocus();
    control<QLineEdit>(dlg, "edtMessage")->clear();
    QTest::keyClicks(control<QLineEdit>(dlg, "edtMessage"), "Back at 5");
    QTest::keyClick(control<QLineEdit>(dlg, "edtMessage"), Qt::Key_Tab);
    EXPECT_EQ(control<QLineEdit>(dlg, "edtMessage")->text(), "Back at 5");
}

TEST_F(SettingsDialogTest, SaveWritesTheFourKeysInOrderThenTheFields) {
    QFile seed(path);
    ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
    seed.write("[Settings]\nmicVolume=40\n");
    seed.close();
    open();
    control<QLineEdit>(dlg, "edtRingTone")->setText("/home/u/ring tone.mp3");
    control<RbSpinEdit>(dlg, "sedRingTime")->setValue(7);
    control<QLineEdit>(dlg, "edtMessage")->setText("Call me later");
    control<QLineEdit>(dlg, "edtCallerID")->clear();
    QTest::mouseClick(control<RbButton>(dlg, "btnSave"), Qt::LeftButton);

    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(fields.ringTone, "/home/u/ring tone.mp3");
    EXPECT_EQ(fields.ringTimeMs, 7000);
    EXPECT_EQ(fields.unansweredMessage, "Call me later");
    EXPECT_EQ(fields.callerId, "");
    const QByteArray text = readAll(path);
    const qsizetype tone = text.indexOf("RingTone=/home/u/ring tone.mp3");
    const qsizetype time = text.indexOf("RingTime=7");
    const qsizetype message = text.indexOf("Message=Call me later");
    const qsizetype caller = text.indexOf("CallerID=");
    EXPECT_TRUE(text.contains("micVolume=40")) << text.toStdString();
    EXPECT_GE(tone, 0);
    EXPECT_LT(tone, time);
    EXPECT_LT(time, message);
    EXPECT_LT(message, caller);
    // An empty caller ID is written as empty, and reads back empty rather than as the default.
    EXPECT_EQ(IniFile(path).readString("Settings", "CallerID", "default"), "");
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(SettingsDialogTest, AClickOnSavePullsATypedRingTimeIntoRange) {
    open();
    control<RbSpinEdit>(dlg, "sedRingTime")->setFocus();
    control<RbSpinEdit>(dlg, "sedRingTime")->selectAll();
    QTest::keyClicks(control<RbSpinEdit>(dlg, "sedRingTime"), "45");
    QTest::mouseClick(control<RbButton>(dlg, "btnSave"), Qt::LeftButton);
    EXPECT_EQ(fields.ringTimeMs, 30000);
    EXPECT_EQ(IniFile(path).readString("Settings", "RingTime", ""), "30");
}

TEST_F(SettingsDialogTest, CloseDropsTheEdits) {
    open();
    control<QLineEdit>(dlg, "edtRingTone")->setText("/other.wav");
    control<QLineEdit>(dlg, "edtMessage")->setText("changed");
    control<RbSpinEdit>(dlg, "sedRingTime")->setValue(3);
    QTest::mouseClick(control<RbButton>(dlg, "btnClose"), Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(fields.ringTone, "/sounds/ring.wav");
    EXPECT_EQ(fields.unansweredMessage, "Unanswered");
    EXPECT_EQ(fields.ringTimeMs, 10000);
    EXPECT_FALSE(QFile::exists(path));
    open();
    EXPECT_EQ(control<QLineEdit>(dlg, "edtRingTone")->text(), "/sounds/ring.wav");
    EXPECT_EQ(control<QLineEdit>(dlg, "edtMessage")->text(), "Unanswered");
    EXPECT_EQ(control<RbSpinEdit>(dlg, "sedRingTime")->text(), "10");
}

TEST_F(SettingsDialogTest, AMessageThePeerWouldReadAsASignalIsRefused) {
    for (const char* message : {"Accept", "Cancel", "Calling", "Busy|back soon"}) {
        SCOPED_TRACE(message);
        messages.boxes.clear();
        open();
        control<QLineEdit>(dlg, "edtMessage")->setText(message);
        control<QLineEdit>(dlg, "edtRingTone")->setText("/new.wav");
        control<RbButton>(dlg, "btnSave")->click();
        ASSERT_EQ(messages.boxes.size(), 1);
        EXPECT_EQ(messages.boxes[0].kind, test::FakeMessageService::Kind::Warning);
        EXPECT_TRUE(messages.boxes[0].text.contains("call signal"));
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_TRUE(control<QLineEdit>(dlg, "edtMessage")->hasFocus());
        EXPECT_EQ(fields.unansweredMessage, "Unanswered");
        EXPECT_EQ(fields.ringTone, "/sounds/ring.wav");
        EXPECT_FALSE(QFile::exists(path));
        control<RbButton>(dlg, "btnClose")->click();
    }
}

TEST(SettingsDialog, AWriteFailureKeepsTheDialogOpenAndTheFieldsUnchanged) {
    QTemporaryDir dir;
    // The file's directory is a plain file, so nothing can be created under it (even by root).
    QFile blocker(dir.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString path = dir.filePath("blocked/Settings.ini");
    PhoneSettings fields;
    fields.unansweredMessage = QStringLiteral("Unanswered");
    test::FakeMessageService messages;
    SettingsDialog dlg(SettingsStore(path), ownerOf(fields), messages);
    dlg.show();
    control<QLineEdit>(dlg, "edtMessage")->setText("Out of office");
    control<RbButton>(dlg, "btnSave")->click();
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, test::FakeMessageService::Kind::Error);
    EXPECT_EQ(messages.boxes[0].text, "Unable to write to " + path + ".");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(fields.unansweredMessage, "Unanswered");
    EXPECT_EQ(control<QLineEdit>(dlg, "edtMessage")->text(), "Out of office");
}

TEST_F(SettingsDialogTest, BrowseOffersTheFilterAndTakesTheChosenPath) {
    QString seenInitial;
    QString seenFilter;
    std::optional<QString> answer = QStringLiteral("/music/bell.wma");
    dlg.setRingToneChooser([&](QWidget* parent, const QString& initial, const QString& filter) {
        EXPECT_EQ(parent, &dlg);
        seenInitial = initial;
        seenFilter = filter;
        return answer;
    });
    open();
    QTest::mouseClick(control<RbButton>(dlg, "RbButton1"), Qt::LeftButton);
    EXPECT_EQ(seenInitial, "/sounds/ring.wav");
    EXPECT_EQ(seenFilter, SettingsDialog::ringToneFilter());
    EXPECT_EQ(control<QLineEdit>(dlg, "edtRingTone")->text(), "/music/bell.wma");

    answer.reset(); // the user cancels
    control<RbButton>(dlg, "RbButton1")->click();
    EXPECT_EQ(seenInitial, "/music/bell.wma");
    EXPECT_EQ(control<QLineEdit>(dlg, "edtRingTone")->text(), "/music/bell.wma");
    EXPECT_EQ(fields.ringTone, "/sounds/ring.wav"); // nothing saved yet
}

TEST_F(SettingsDialogTest, VideoOptionsOpensModallyAndTheEditsSurvive) {
    control<RbButton>(dlg, "btnVideoOptions")->click(); // none attached: nothing happens

    QDialog options(&dlg);
    dlg.setVideoOptionsDialog(&options);
    open();
    control<QLineEdit>(dlg, "edtMessage")->setText("unsaved edit");
    QTest::mouseClick(control<RbButton>(dlg, "btnVideoOptions"), Qt::LeftButton);
    EXPECT_TRUE(options.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), &options); // the settings take no input meanwhile
    options.reject();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(control<QLineEdit>(dlg, "edtMessage")->text(), "unsaved edit");
}

TEST_F(SettingsDialogTest, LongTextsFromTheFileSurviveAnUnchangedSave) {
    fields.unansweredMessage = QString(70, QLatin1Char('m'));
    fields.callerId = QString(60, QLatin1Char('c'));
    open();
    control<RbButton>(dlg, "btnSave")->click();
    EXPECT_EQ(fields.unansweredMessage, QString(70, QLatin1Char('m')));
    EXPECT_EQ(fields.callerId, QString(60, QLatin1Char('c')));
    EXPECT_EQ(IniFile(path).readString("Settings", "Message", ""), QString(70, QLatin1Char('m')));
}

TEST(SettingsDialog, SavedValuesTakeEffectForTheNextCallAtOnce) {
    QTemporaryDir dir;
    test::FakePhone phone;
    SettingsDialog dlg(SettingsStore(dir.filePath("Settings.ini")), ownerOf(phone.session.settings()),
                       phone.messages);
    dlg.show();
    control<QLineEdit>(dlg, "edtCallerID")->setText("Desk 9");
    control<RbSpinEdit>(dlg, "sedRingTime")->setValue(3);
    control<QLineEdit>(dlg, "edtMessage")->setText("In a meeting");
    control<RbButton>(dlg, "btnSave")->click();

    test::deliverSignal(phone.session, "Calling|Bob", "10.0.0.2");
    EXPECT_EQ(phone.timer.interval(), 3000);
    phone.timer.advance(3000);
    EXPECT_EQ(phone.sender.sent.last(), (test::SentDatagram{"10.0.0.2", "In a meeting"}));
    phone.session.onEndClicked();
    phone.session.onCallClicked();
    EXPECT_EQ(phone.sender.sent.last(), (test::SentDatagram{"10.0.0.2", "Calling|Desk 9"}));
}

} // namespace
} // namespace talvora
