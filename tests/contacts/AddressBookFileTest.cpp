#include "contacts/AddressBookFile.h"
#include "contacts/AddressBook.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

QByteArray bytesOf(const char* text, qsizetype size = -1) {
    return size < 0 ? QByteArray(text) : QByteArray(text, size);
}

TEST(AddressBookFile, ReadsLinesEndedByCrLfOrCrLf) {
    struct Case {
        QByteArray bytes;
        QStringList entries;
    } cases[] = {
        {"", {}},
        {"Anna <1>\r\nBob <2>\r\n", {"Anna <1>", "Bob <2>"}},
        {"Anna <1>\nBob <2>\n", {"Anna <1>", "Bob <2>"}},
        {"Anna <1>\rBob <2>\r", {"Anna <1>", "Bob <2>"}},
        {"Anna <1>\r\nBob <2>", {"Anna <1>", "Bob <2>"}}, // a last line without an ending
        {"\r\n", {""}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}}, // LF then CR: two endings
        {"a\r\r\nb", {"a", "", "b"}},
        {"\n\n", {"", ""}},
        {bytesOf("a\r\nb\0c\r\n", 8), {"a", "b"}}, // a NUL ends the text
        {bytesOf("\0a\r\n", 4), {}},
        {bytesOf("a\r\n\0\0\0", 6), {"a"}},
        {"Jos\xe9 <h>\r\n", {"José <h>"}},                // Windows-1252
        {"Jos\xc3\xa9 <h>\r\n", {"José <h>"}},            // UTF-8
        {"\x80uro\r\nJos\xc3\xa9\r\n", {"€uro", "José"}}, // each line by itself
    };
    for (const auto& c : cases) {
        const AddressBookText text = parseAddressBook(c.bytes, c.bytes.size());
        EXPECT_EQ(text.entries, c.entries) << c.bytes.toHex(' ').constData();
        EXPECT_TRUE(text.whole() || c.bytes.contains('\0'));
    }
}

TEST(AddressBookFile, WritesEveryEntryWithCrLfInWindows1252WhereItFits) {
    struct Case {
        QStringList entries;
        QByteArray bytes;
    } cases[] = {
        {{}, ""},
        {{""}, "\r\n"},
        {{"Anna <192.168.1.20>", "Bob <host1>"}, "Anna <192.168.1.20>\r\nBob <host1>\r\n"},
        {{"José <h>", "€ “q”"}, "Jos\xe9 <h>\r\n\x80 \x93q\x94\r\n"},
        {{"Łukasz <h>"}, "\xc5\x81ukasz <h>\r\n"}, // not in Windows-1252: UTF-8
        {{"Ã© <h>"}, "\xc3\x83\xc2\xa9 <h>\r\n"},  // its Windows-1252 bytes would read as "é"
    };
    for (const auto& c : cases) {
        const QByteArray written = addressBookBytes(c.entries);
        EXPECT_EQ(written, c.bytes) << c.entries.join('|').toStdString();
        EXPECT_EQ(parseAddressBook(written, written.size()).entries, c.entries);
    }
}

TEST(AddressBookFile, ReadsOnlyWhatFitsTheLimitsAndSaysWhatItSkipped) {
    const QByteArray line = "Contact <host>\r\n";
    struct Case {
        const char* what;
        QByteArray bytes;
        qsizetype fileSize;
        int entries;
        qsizetype bytesBeyond;
        int entriesBeyond;
        int longLines;
        bool afterNul;
    } cases[] = {
        {"10000 lines", line.repeated(kAddressBookMaxEntries), -1, kAddressBookMaxEntries, 0, 0, 0, false},
        {"10003 lines", line.repeated(kAddressBookMaxEntries + 3), -1, kAddressBookMaxEntries, 0, 3, 0,
         false},
        {"a long line", "a\r\n" + QByteArray(kAddressBookMaxLineBytes + 1, 'x') + "\r\nb\r\n", -1, 2, 0, 0, 1,
         false},
        {"a line at the limit", QByteArray(kAddressBookMaxLineBytes, 'x'), -1, 1, 0, 0, 0, false},
        {"junk after a NUL", bytesOf("a\r\n\0\x7f\x45LF", 8), -1, 1, 0, 0, 0, true},
        // Reading stopped at the size limit in the middle of the third line.
        {"cut by the size", "a\r\nb\r\nccc", 1000, 2, 1000 - 6, 0, 0, false},
    };
    for (const auto& c : cases) {
        const qsizetype size = c.fileSize < 0 ? c.bytes.size() : c.fileSize;
        const AddressBookText text = parseAddressBook(c.bytes, size);
        EXPECT_EQ(text.entries.size(), c.entries) << c.what;
        EXPECT_EQ(text.bytesBeyondLimit, c.bytesBeyond) << c.what;
        EXPECT_EQ(text.entriesBeyondLimit, c.entriesBeyond) << c.what;
        EXPECT_EQ(text.longLinesSkipped, c.longLines) << c.what;
        EXPECT_EQ(text.bytesAfterNul > 0, c.afterNul) << c.what;
        const QString said = describeSkipped(QStringLiteral("/d/IPAddress.dat"), text);
        EXPECT_EQ(said.isEmpty(), text.whole()) << c.what;
        if (!said.isEmpty()) {
            EXPECT_TRUE(said.startsWith(QStringLiteral("The address book /d/IPAddress.dat ")))
                << said.toStdString();
        }
    }
}

// Whatever the list holds is written so that it reads back as the same list.
TEST(AddressBookFile, WhatTheBookHoldsReadsBackWhole) {
    const QChar bom(0xFEFF);
    struct Case {
        QString added;
        QString stored;
        QByteArray written;
    } cases[] = {
        {"a\r\nb <h>", "a  b <h>", "a  b <h>\r\n"},
        {QString::fromUtf8("n\0ul", 4), "n ul", "n ul\r\n"},
        {QString("x") + QChar(0xDC00), QString("x") + QChar::ReplacementCharacter, "x\xef\xbf\xbd\r\n"},
        {QString("a") + bom, QString("a") + bom, "a\xef\xbb\xbf\r\n"},
        {bom + QString("x"), bom + QString("x"), "\xef\xbb\xbf\xef\xbb\xbfx\r\n"}, // behind a mark
    };
    for (const auto& c : cases) {
        AddressBook book;
        ASSERT_EQ(book.add(c.added), 0);
        EXPECT_EQ(book.entries(), QStringList{c.stored});
        const QByteArray file = addressBookBytes(book.entries());
        EXPECT_EQ(file, c.written);
        const AddressBookText text = parseAddressBook(file, file.size());
        EXPECT_TRUE(text.whole() && text.entries == book.entries()) << file.toHex(' ').constData();
    }
    // An editor's byte order mark is taken off the start of the file only.
    EXPECT_EQ(parseAddressBook("\xef\xbb\xbf"
                               "a\r\n\xef\xbb\xbf"
                               "b\r\n",
                               14)
                  .entries,
              (QStringList{"a", bom + QString("b")}));
}

TEST(AddressBookFile, TheBookTakesNoEntryItsFileCouldNotHold) {
    AddressBook book;
    EXPECT_EQ(book.add(QString(kAddressBookMaxLineBytes / 2 + 1, QChar(0x0141))), -1); // 2 bytes each
    while (book.add(QString(kAddressBookMaxLineBytes, 'y')) >= 0) {
    }
    const QByteArray full = addressBookBytes(book.entries());
    EXPECT_GT(full.size(), kAddressBookMaxBytes - kAddressBookMaxLineBytes - 8);
    EXPECT_TRUE(parseAddressBook(full, full.size()).whole()); // within the limit, read whole
    book.removeAt(0);
    EXPECT_TRUE(book.canAdd(QString(kAddressBookMaxLineBytes, 'z')));

    book.clear();
    for (int i = 0; i < kAddressBookMaxEntries; ++i) {
        ASSERT_GE(book.add("e"), 0);
    }
    EXPECT_EQ(book.add("e"), -1);
}

// A file with bare LF line ends grows as it is written back with CR LF: it is read only as far as
// what can be written back whole.
TEST(AddressBookFile, ReadsOnlyAsMuchAsWritesBackWithinTheLimit) {
    const QByteArray line = QByteArray(2047, 'n') + "\n"; // 2048 bytes, 2049 written back
    const QByteArray file = line.repeated(kAddressBookMaxBytes / line.size());
    const AddressBookText text = parseAddressBook(file, file.size());
    EXPECT_EQ(text.entries.size(), kAddressBookEntryBytes / 2049);
    EXPECT_EQ(text.bytesBeyondLimit, file.size() - text.entries.size() * line.size());
    EXPECT_LE(addressBookBytes(text.entries).size(), kAddressBookMaxBytes);
}

class AddressBookFileOnDisk : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("IPAddress.dat")); }
    void put(const QByteArray& bytes) {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray contents() const {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QTemporaryDir m_dir;
};

TEST_F(AddressBookFileOnDisk, MissingUnreadableAndRead) {
    EXPECT_EQ(readAddressBookFile(path()).status, AddressBookRead::Status::Missing);
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("IPAddress.dat")));
    EXPECT_EQ(readAddressBookFile(path()).status, AddressBookRead::Status::Unreadable);
    ASSERT_TRUE(QDir(m_dir.path()).rmdir(QStringLiteral("IPAddress.dat")));
    put("b\na\n");
    const AddressBookRead read = readAddressBookFile(path());
    EXPECT_EQ(read.status, AddressBookRead::Status::Read);
    EXPECT_EQ(read.text.entries, (QStringList{"b", "a"})); // the file's order; the list sorts
}

TEST_F(AddressBookFileOnDisk, AFileOverTheSizeLimitIsReadOnlyToTheLimit) {
    const QByteArray line = QByteArray(198, 'n') + "\r\n"; // 200 bytes
    put(line.repeated(10000));                             // 2 MB in fewer lines than the limit
    const AddressBookRead read = readAddressBookFile(path());
    ASSERT_EQ(read.status, AddressBookRead::Status::Read);
    EXPECT_EQ(read.text.entries.size(), kAddressBookMaxBytes / line.size());
    EXPECT_EQ(read.text.bytesBeyondLimit, 10000 * line.size() - read.text.entries.size() * line.size());
    EXPECT_FALSE(read.text.whole());
}

TEST_F(AddressBookFileOnDisk, SavesAtomicallyKeepingModeAndCreatingWhatIsMissing) {
    put("old\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0640), 0);
    ASSERT_TRUE(writeAddressBookFile(path(), {"Anna <1>", "Bob <2>"}));
    EXPECT_EQ(contents(), QByteArray("Anna <1>\r\nBob <2>\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_TRUE(writeAddressBookFile(path(), {}));
    EXPECT_EQ(contents(), QByteArray()); // an empty list is 0 bytes

    const QString nested = m_dir.filePath(QStringLiteral("new/dir/IPAddress.dat"));
    ASSERT_TRUE(writeAddressBookFile(nested, {"x"}));
    EXPECT_TRUE(QFile::exists(nested));
}

TEST_F(AddressBookFileOnDisk, AFailedSaveReportsFalseAndLeavesNothingBehind) {
    // A regular file where the directory should be: no user, root included, can create there.
    put("keep\r\n");
    const QString impossible = path() + QStringLiteral("/IPAddress.dat");
    EXPECT_FALSE(writeAddressBookFile(impossible, {"x"}));
    EXPECT_EQ(contents(), QByteArray("keep\r\n"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(AddressBookFileOnDisk, AReadOnlyDirectoryWithAWritableFileIsWrittenInPlace) {
    put("old\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0555), 0);
    // Root may create files anywhere, so the save runs as a user without that right.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        ::_exit(writeAddressBookFile(path(), {"new"}) ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(contents(), QByteArray("new\r\n"));
}

} // namespace
} // namespace talvora
