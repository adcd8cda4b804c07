// The address book dialog on a headless screen, over a real "IPAddress.dat" in a temporary
// directory.

#include "ui/AddressBookDialog.h"
#include "contacts/AddressBook.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"
#include "ui/ContactItemDelegate.h"
#include "ui/GradientFill.h"
#include "ui/RbButton.h"

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "support/Controls.h"

#include <sys/stat.h>

namespace talvora {
namespace {

using Kind = test::FakeMessageService::Kind;

class AddressBookDialogTest : public ::testing::Test {
protected:
    AddressBookDialogTest() {
        dlg.setHail([this](const QString& address) { hailed << address; });
    }

    void put(const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray file() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void open() {
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }
    template <class T = QWidget> T* control(const char* name) { return test::control<T>(dlg, name); }
    void click(const char* button) { control<RbButton>(button)->click(); }
    void add(const QString& name, const QString& address) {
        control<QLineEdit>("edtName")->setText(name);
        control<QLineEdit>("edtIP")->setText(address);
        click("btnAdd");
    }
    QStringList entries() { return dlg.book().entries(); }

    QTemporaryDir dir;
    QString path = dir.filePath("IPAddress.dat");
    test::FakeMessageService messages;
    AddressBookDialog dlg{path, messages};
    QStringList hailed;
};

TEST_F(AddressBookDialogTest, ControlsStandAtTheirPlaces) {
    EXPECT_EQ(dlg.objectName(), "frmIP");
    EXPECT_EQ(dlg.size(), QSize(497, 412));
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    struct Case {
        const char* name;
        QRect place;
        const char* caption;
    } cases[] = {
        {"edtName", {14, 26, 225, 24}, nullptr},
        {"edtIP", {256, 26, 225, 24}, nullptr},
        {"btnAdd", {14, 59, 75, 25}, "Add"},
        {"btnDeleteAll", {406, 59, 75, 25}, "Clear List"},
        {"ListBox1", {14, 96, 467, 257}, nullptr},
        {"btnDelete", {16, 368, 75, 25}, "Delete"},
        {"btnOnline", {104, 368, 81, 25}, "Who's Online?"},
        {"btnInsert", {200, 368, 193, 25}, "Hail Selected Contact"},
        {"btnClose", {407, 368, 75, 25}, "Close"},
    };
    for (const auto& c : cases) {
        QWidget* w = control(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), c.place) << c.name;
        if (c.caption != nullptr) {
            const auto* button = static_cast<RbButton*>(w);
            EXPECT_EQ(button->text(), QString::fromUtf8(c.caption)) << c.name;
            // The whole caption shows, whatever the desktop's font ("Who's Online?" did not).
            EXPECT_LE(QFontMetrics(button->captionFont()).horizontalAdvance(button->text()),
                      c.place.width() - 4)
                << c.name;
        }
    }
    EXPECT_EQ(control<QLineEdit>("edtName")->maxLength(), 22);
    EXPECT_EQ(control("ListBox1")->toolTip(), "Double Click to use IP Address");
    EXPECT_EQ(control<QLabel>("Label2")->text(), "Contact Name");
    EXPECT_EQ(control<QLabel>("Label1")->text(), "Host Name / Hailing Frequency");
}

TEST_F(AddressBookDialogTest, AddPlacesSortedEntriesAndHailingTakesTheAddress) {
    open();
    add("zed", "host9");
    add("Bob", "host1");
    add("alice", "10.0.0.1");
    EXPECT_EQ(entries(), (QStringList{"alice <10.0.0.1>", "Bob <host1>", "zed <host9>"}));
    EXPECT_TRUE(control<QLineEdit>("edtName")->text().isEmpty());
    EXPECT_TRUE(control<QLineEdit>("edtIP")->text().isEmpty());
    EXPECT_TRUE(messages.boxes.isEmpty());
    dlg.selectRow(1);
    click("btnInsert");
    EXPECT_EQ(hailed, QStringList{"host1"});
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(file(), QByteArray("alice <10.0.0.1>\r\nBob <host1>\r\nzed <host9>\r\n"));
}

TEST_F(AddressBookDialogTest, AddNeedsBothTextsBlanksCount) {
    open();
    struct Case {
        const char* name;
        const char* address;
        bool added;
    } cases[] = {{"", "h", false}, {"n", "", false}, {"", "", false}, {" ", " ", true}};
    for (const auto& c : cases) {
        messages.boxes.clear();
        const auto before = entries().size();
        add(c.name, c.address);
        EXPECT_EQ(entries().size() - before, c.added ? 1 : 0) << c.name << "|" << c.address;
        if (!c.added) {
            ASSERT_EQ(messages.boxes.size(), 1);
            EXPECT_EQ(messages.boxes[0].kind, Kind::Information);
            EXPECT_EQ(messages.boxes[0].text, "Please enter Contact Name and IP Address.");
            EXPECT_TRUE(control("edtName")->hasFocus() || !dlg.isActiveWindow());
        }
    }
    EXPECT_EQ(entries(), QStringList{"  < >"});
}

// The address box takes no more than a line of the file can hold with the longest name, typed
// or pasted; what it takes survives a save and the next opening.
TEST_F(AddressBookDialogTest, TheAddressBoxRefusesWhatTheFileCouldNotGiveBack) {
    open();
    auto* address = control<QLineEdit>("edtIP");
    const QString name = QString(22, QChar(0x20AC)); // 22 euro signs: 66 bytes
    const QString longest = QString(4027, QLatin1Char('a'));
    address->clear();
    QTest::keyClicks(address, longest + "b");
    EXPECT_EQ(address->text(), longest); // the 4028th byte is refused as typed
    address->clear();
    address->insert(QString(2100, QChar(0xE9))); // 4200 bytes pasted: refused whole
    EXPECT_EQ(address->text(), "");
    add(name, longest);
    click("btnClose");
    open();
    EXPECT_EQ(entries(), QStringList{name + " <" + longest + ">"});
}

TEST_F(AddressBookDialogTest, EachOpeningReloadsSelectsTheFirstEntryAndHailsIt) {
    put("x<y>z\nplain entry\r\n\rAnna <192.168.1.20>");
    open();
    EXPECT_EQ(entries(), (QStringList{"", "Anna <192.168.1.20>", "plain entry", "x<y>z"}));
    EXPECT_EQ(dlg.selectedRow(), 0);
    struct Case {
        int row;
        const char* address;
    } cases[] = {{0, ""}, {1, "192.168.1.20"}, {2, "plain entry"}, {3, "y>"}};
    for (const auto& c : cases) {
        hailed.clear();
        if (!dlg.isVisible()) {
            open();
        }
        dlg.selectRow(c.row);
        click("btnInsert");
        EXPECT_EQ(hailed, QStringList{QString::fromUtf8(c.address)}) << c.row;
    }
    // The file was rewritten with CR LF endings at the first hail.
    EXPECT_EQ(file(), QByteArray("\r\nAnna <192.168.1.20>\r\nplain entry\r\nx<y>z\r\n"));
}

TEST_F(AddressBookDialogTest, HailingWithNothingSelectedDoesNothing) {
    open();
    dlg.onHailClicked();
    EXPECT_TRUE(hailed.isEmpty());
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(AddressBookDialogTest, EnterWalksFromNameToAddressAndAddsFromThere) {
    open();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    auto* name = control<QLineEdit>("edtName");
    auto* address = control<QLineEdit>("edtIP");
    name->setFocus();
    QTest::keyClicks(name, "Carol");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(address->hasFocus());
    QTest::keyClicks(address, "carol.local");
    QTest::keyClick(address, Qt::Key_Return);
    EXPECT_EQ(entries(), QStringList{"Carol <carol.local>"});
    EXPECT_TRUE(name->hasFocus());
    dlg.selectRow(0);
    QTest::keyClick(control("ListBox1"), Qt::Key_Return);
    EXPECT_EQ(hailed, QStringList{"carol.local"});
}

TEST_F(AddressBookDialogTest, DeleteAsksClearListDoesNotAndAnEmptyListSavesZeroBytes) {
    put("a\r\nb\r\nc\r\n");
    open();
    struct Case {
        bool answer;
        int selected;
        QStringList after;
    } cases[] = {
        {false, 0, {"a", "b", "c"}},
        {true, 1, {"a", "c"}},
        {true, -1, {"a", "c"}}, // nothing selected: nothing removed
    };
    for (const auto& c : cases) {
        messages.boxes.clear();
        messages.answers = {c.answer};
        if (c.selected >= 0) {
            dlg.selectRow(c.selected);
        }
        click("btnDelete");
        ASSERT_EQ(messages.boxes.size(), 1);
        EXPECT_EQ(messages.boxes[0].kind, Kind::Question);
        EXPECT_EQ(messages.boxes[0].text, "Delete selected contact?");
        EXPECT_EQ(entries(), c.after);
    }
    messages.boxes.clear();
    click("btnDeleteAll");
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_TRUE(messages.boxes.isEmpty());
    click("btnClose");
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(file(), QByteArray());
}

// A file that cannot be replaced (a directory in its place; a read-only file, which not even
// root overwrites) is said and keeps the dialog open with its entries; the next Close tries again.
TEST_F(AddressBookDialogTest, AFailedSaveKeepsTheDialogOpenWithItsEntriesAndTriesAgain) {
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only file" : "directory");
        QFile::remove(path);
        messages.boxes.clear();
        open();
        click("btnDeleteAll");
        add("Anna", "h");
        if (readOnly) {
            put("Old <o>\r\n");
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
        } else {
            ASSERT_TRUE(QDir(dir.path()).mkdir("IPAddress.dat"));
        }
        click("btnClose");
        EXPECT_TRUE(dlg.isVisible());
        ASSERT_EQ(messages.boxes.size(), 1);
        EXPECT_EQ(messages.boxes[0].kind, Kind::Error);
        EXPECT_EQ(messages.boxes[0].text, "Cannot create file " + path + ".");
        EXPECT_EQ(entries(), QStringList{"Anna <h>"});
        if (readOnly) {
            EXPECT_EQ(file(), QByteArray("Old <o>\r\n"));
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
        } else {
            ASSERT_TRUE(QDir(dir.path()).rmdir("IPAddress.dat"));
        }
        click("btnClose");
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(file(), QByteArray("Anna <h>\r\n"));
    }
}

TEST_F(AddressBookDialogTest, AnUnreadableFileKeepsTheList) {
    open();
    add("Anna", "h");
    click("btnClose");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    if (QFile f(path); f.open(QIODevice::ReadOnly)) {
        GTEST_SKIP() << "root reads any file";
    }
    open();
    ASSERT_EQ(messages.texts(), QStringList{"File [IPAddress.dat] not Found."});
    EXPECT_EQ(entries(), QStringList{"Anna <h>"});
}

TEST_F(AddressBookDialogTest, AnOversizedFileIsReadInPartSaidAndKeptUntilTheListChanges) {
    QByteArray big = QByteArray("Zed <z>\r\n").repeated(10005);
    put(big);
    open();
    EXPECT_EQ(entries().size(), 10000);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, Kind::Error);
    EXPECT_TRUE(messages.boxes[0].text.contains("5 lines beyond the first 10000 contacts"))
        << messages.boxes[0].text.toStdString();
    click("btnClose");
    EXPECT_EQ(file(), big); // unchanged: kept whole
    open();
    messages.boxes.clear();
    add("Anna", "a"); // a full book takes no more: it says so and keeps the texts
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].text, "The address book is full: it holds 10000 contacts at most.");
    EXPECT_EQ(control<QLineEdit>("edtName")->text(), "Anna");
    EXPECT_EQ(entries().size(), 10000);
    dlg.book().removeAt(0); // one makes room
    click("btnAdd");
    click("btnClose");
    EXPECT_EQ(file().size(), 9999 * 9 + 10); // what was read but one, and the new contact
}

TEST(ContactDrawing, SelectedEntryLinesFollowTheGradient) {
    const std::vector<QColor> lines = gradientLines(40, ContactItemDelegate::selectedGradient());
    ASSERT_EQ(lines.size(), 40u);
    for (int p = 0; p <= 20; ++p) {
        EXPECT_EQ(lines[p], QColor(255, 245, 221)) << p;
    }
    struct Case {
        int line;
        QColor colour;
    } cases[] = {{21, {255, 243, 214}}, {30, {255, 226, 154}}, {39, {255, 210, 94}}};
    for (const auto& c : cases) {
        EXPECT_EQ(lines[c.line], c.colour) << c.line;
    }
    EXPECT_THROW(gradientLines(40, {Qt::red}), Error);
    try {
        gradientLines(40, {});
    } catch (const Error& e) {
        EXPECT_EQ(e.text(), "Please specify at least two colors.");
    }
    // Halves round to even: 10 / 4 = 2.5 gives segments of 2, the last one taking the rest.
    const std::vector<QColor> four =
        gradientLines(10, {Qt::black, Qt::black, Qt::black, Qt::black, Qt::white});
    EXPECT_EQ(four[5], QColor(Qt::black));
    EXPECT_EQ(four[6], QColor(Qt::black));
    EXPECT_EQ(four[9], QColor(Qt::white));
}

TEST(ContactDrawing, TheSelectedEntryIsPaintedWithTheGradientAndThePicture) {
    AddressBook book;
    book.replace({"Anna <192.168.1.20>"});
    QListView view;
    view.setModel(&book);
    ContactItemDelegate delegate;
    QImage image(467, 40, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.state = QStyle::State_Selected | QStyle::State_Enabled;
    delegate.paint(&painter, option, book.index(0));
    option.state = QStyle::State_Enabled;
    painter.end();
    // Inside the rounded corners, away from the text and the picture.
    EXPECT_EQ(QColor(image.pixel(440, 21)), QColor(255, 243, 214));
    EXPECT_EQ(QColor(image.pixel(440, 30)), QColor(255, 226, 154));
    EXPECT_EQ(QColor(image.pixel(440, 5)), QColor(255, 245, 221));
    EXPECT_EQ(QColor(image.pixel(0, 0)), QColor(Qt::magenta));     // cut off by the rounded corner
    EXPECT_NE(QColor(image.pixel(19, 19)), QColor(255, 245, 221)); // the contact picture
    bool dark = false;                                             // some black text from x = 45 on
    for (int x = 45; x < 200 && !dark; ++x) {
        for (int y = 10; y < 30 && !dark; ++y) {
            dark = qGray(image.pixel(x, y)) < 60;
        }
    }
    EXPECT_TRUE(dark);
}

} // namespace
} // namespace talvora
