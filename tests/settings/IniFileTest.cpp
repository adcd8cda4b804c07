#include "settings/IniFile.h"
#include "base/Error.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

#include <sys/fsuid.h>
#include <unistd.h>

namespace talvora {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Root ignores file permissions; the file-system uid of this thread can drop that privilege for
// the duration of a test, so the "cannot write" paths are exercised as they would be for a user.
class AsUnprivilegedUser {
public:
    AsUnprivilegedUser() : m_old(::setfsuid(65534)) {}
    ~AsUnprivilegedUser() { ::setfsuid(m_old); }

private:
    int m_old;
};

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Settings.ini"); }
};

TEST_F(IniFileTest, MissingFileSectionOrKeyYieldsDefault) {
    IniFile ini(path());
    EXPECT_EQ(ini.readString("Settings", "RingTime", "10"), "10");
    writeAll(path(), "[Other]\nRingTime=5\n[Settings]\nMessage=x\n");
    EXPECT_EQ(ini.readString("Settings", "RingTime", "10"), "10");
    EXPECT_FALSE(QFile::exists(dir.filePath("x"))); // reading never creates anything
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCaseAndEmptyValueIsNotDefault) {
    writeAll(path(), "; comment\r\n[settings]\r\nCALLERID=\r\n  ringtime = 7 \r\n");
    IniFile ini(path());
    EXPECT_EQ(ini.readString("Settings", "CallerID", "1.2.3.4"), "");
    EXPECT_EQ(ini.readString("SETTINGS", "RingTime", "10"), "7");
}

TEST_F(IniFileTest, ValuesAreCutAt2047Characters) {
    writeAll(path(), "[Settings]\nMessage=" + QByteArray(3000, 'a') + "\n");
    EXPECT_EQ(IniFile(path()).readString("Settings", "Message", "").size(), 2047);
}

TEST_F(IniFileTest, FirstWriteCreatesFileAndSection) {
    IniFile ini(path());
    ini.writeString("Settings", "micVolume", "85");
    EXPECT_EQ(readAll(path()), "[Settings]\nmicVolume=85\n");
}

TEST_F(IniFileTest, WritesKeepOtherLinesInPlaceAndLineEndings) {
    writeAll(path(), "; keep me\r\n[Other]\r\nA=1\r\n\r\n[Settings]\r\nRingTone=/a.wav\r\nMICVOLUME=10\r\n"
                     "junk line\r\n\r\n[Tail]\r\nB=2\r\n");
    IniFile ini(path());
    ini.writeString("Settings", "micVolume", "60");
    ini.writeString("Settings", "Message", "Away");
    EXPECT_EQ(readAll(path()),
              "; keep me\r\n[Other]\r\nA=1\r\n\r\n[Settings]\r\nRingTone=/a.wav\r\nmicVolume=60\r\n"
              "junk line\r\nMessage=Away\r\n\r\n[Tail]\r\nB=2\r\n");
}

TEST_F(IniFileTest, RewritingTheSameValueLeavesTheFileUnchanged) {
    const QByteArray original = "[Settings]\nRingTone=\nRingTime=10\nMessage=Unanswered\nCallerID=Bob\n";
    writeAll(path(), original);
    IniFile ini(path());
    for (const char* key : {"RingTone", "RingTime", "Message", "CallerID"}) {
        ini.writeString("Settings", key, ini.readString("Settings", key, "?"));
    }
    EXPECT_EQ(readAll(path()), original);
}

TEST_F(IniFileTest, ValueWithLineBreakStaysOnOneLine) {
    IniFile ini(path());
    ini.writeString("Settings", "Message", "two\nlines");
    ini.writeString("Settings", "CallerID", "x");
    EXPECT_EQ(ini.readString("Settings", "Message", ""), "two lines");
    EXPECT_EQ(ini.readString("Settings", "CallerID", ""), "x");
}

TEST_F(IniFileTest, NonAsciiRoundTripsAsUtf8AndWindows1252Reads) {
    IniFile ini(path());
    ini.writeString("Settings", "CallerID", QString::fromUtf8("Zoë €"));
    EXPECT_EQ(readAll(path()), QByteArray("[Settings]\nCallerID=Zo\xc3\xab \xe2\x82\xac\n"));
    writeAll(path(), "[Settings]\nCallerID=Zo\xeb \x80\n");
    EXPECT_EQ(ini.readString("Settings", "CallerID", ""), QString::fromUtf8("Zoë €"));
}

TEST_F(IniFileTest, FailedWriteReportsPathAndLeavesOldFileWhole) {
    const QByteArray original = "[Settings]\nmicVolume=40\n";
    writeAll(path(), original);
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup));
    IniFile ini(path());
    try {
        AsUnprivilegedUser user;
        ini.writeString("Settings", "micVolume", "0");
        FAIL() << "write into a read-only directory succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.text(), "Unable to write to " + path());
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(readAll(path()), original);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Settings.ini"}); // no temporary left
}

TEST_F(IniFileTest, MissingDirectoryIsAWriteFailure) {
    IniFile ini(dir.filePath("no/such/dir/Settings.ini"));
    EXPECT_THROW(ini.writeString("Settings", "micVolume", "1"), Error);
}

TEST(ParseSettingsInteger, AcceptsDecimalAndHexadecimalOnly) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"85", true, 85},
        {"0x20", true, 32},
        {"0X1f", true, 31},
        {"$20", true, 32},
        {"-5", true, -5},
        {" 12 ", true, 12},
        {"abc", false, 0},
        {"", false, 0},
        {"12a", false, 0},
        {"0x", false, 0},
        {"$", false, 0},
        {"1.5", false, 0},
        {"2147483647", true, 2147483647},
        {"2147483648", false, 0},
        {"-2147483648", true, -2147483647 - 1},
        {"٣", false, 0},
        {"0x€", false, 0},
        {"0x٣", false, 0},
        {"$fF", true, 255},
    };
    for (const auto& c : cases) {
        int v = 0;
        EXPECT_EQ(parseSettingsInteger(QString::fromUtf8(c.text), v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

// Every value reads back as it was written, but for line breaks (blanks) and the length limit.
TEST(IniText, ValuesReadBackAsWritten) {
    const QString smile = QString::fromUtf8("\xf0\x9f\x98\x80");
    const QChar bom(0xFEFF);
    struct Case {
        QString value;
        QByteArray line; // as written
        QString read;
    } cases[] = {
        {"Bob", "k=Bob", "Bob"},
        {"", "k=", ""},
        {" padded\t", "k=\" padded\t\"", " padded\t"},
        {"\"quoted\"", "k=\"\"quoted\"\"", "\"quoted\""},
        {"'x'", "k=\"'x'\"", "'x'"},
        {"\"", "k=\"", "\""},
        {"a\"", "k=a\"", "a\""},
        {"two\r\nlines", "k=two  lines", "two  lines"},
        {bom + QString("x"), "k=\xef\xbb\xbfx", bom + QString("x")},
        {QString(3000, 'a'), "k=" + QByteArray(2047, 'a'), QString(2047, 'a')},
        {QString(2046, 'a') + smile, "k=" + QByteArray(2046, 'a'), QString(2046, 'a')},
        {QString(1, QChar(0xD800)) + "x", "k=\xef\xbf\xbdx", QString(QChar::ReplacementCharacter) + "x"},
    };
    for (const auto& c : cases) {
        const QByteArray file = withIniValue("[S]\n", "S", "k", c.value);
        EXPECT_EQ(file, "[S]\n" + c.line + "\n") << c.value.toStdString();
        EXPECT_EQ(iniValue(file, "S", "k"), c.read) << c.value.toStdString();
        EXPECT_EQ(storedIniValue(c.value), c.read) << c.value.toStdString();
    }
    // A file from elsewhere: quotes around a value are taken off, one pair only.
    EXPECT_EQ(iniValue("[S]\nk = ' x ' \nj=\"\"y\"\"\n", "S", "k"), " x ");
    EXPECT_EQ(iniValue("[S]\nk = ' x ' \nj=\"\"y\"\"\n", "S", "j"), "\"y\"");
}

// Editors that mark UTF-8 put a byte order mark before the section header; it is no part of
// it, and a rewrite keeps it and adds no second section.
TEST(IniFileByteOrderMark, IsSkippedOnReadingAndKeptOnWriting) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Settings.ini");
    writeAll(path, "\xEF\xBB\xBF[Settings]\r\nRingTime=5\r\n");
    IniFile file(path);
    EXPECT_EQ(file.readString("Settings", "RingTime", "10"), "5");
    file.writeString("Settings", "CallerID", "Bob");
    EXPECT_EQ(readAll(path), "\xEF\xBB\xBF[Settings]\r\nRingTime=5\r\nCallerID=Bob\r\n");
}

} // namespace
} // namespace talvora
