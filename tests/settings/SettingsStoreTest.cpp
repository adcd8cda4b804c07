#include "settings/SettingsStore.h"

#include "base/Error.h"
#include "settings/ConfigLocation.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Settings.ini"); }
    void write(const QByteArray& bytes) {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray bytes() const {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    PhoneSettings load(QStringList& problems) { return SettingsStore(path()).load("192.0.2.7", problems); }
};

TEST_F(SettingsStoreTest, DefaultsWithoutAFile) {
    QStringList problems;
    const PhoneSettings s = load(problems);
    EXPECT_EQ(s.ringTone, "");
    EXPECT_EQ(s.ringTimeMs, 10000);
    EXPECT_EQ(s.unansweredMessage, "Unanswered");
    EXPECT_EQ(s.callerId, "192.0.2.7");
    EXPECT_EQ(s.micVolume, 85);
    EXPECT_TRUE(problems.isEmpty());
    EXPECT_FALSE(QFile::exists(path())); // not created at start
}

TEST_F(SettingsStoreTest, ConversionsTable) {
    struct Case {
        QByteArray ringTime, mic;
        int ringTimeMs, micVolume;
        QString problem;
    } cases[] = {
        {"0", "150", 0, 150, {}},
        {"100", "0x20", 100000, 32, {}},
        {"$A", "abc", 10000, 85, {}},
        {"ten", "$10", 10000, 16, "'ten' is not a valid integer value"},
        {"", "", 10000, 85, "'' is not a valid integer value"},
        {"9999999", "-3", 2147483647, -3, {}},
    };
    for (const auto& c : cases) {
        write("[Settings]\nRingTime=" + c.ringTime + "\nmicVolume=" + c.mic +
              "\nMessage=Gone\nCallerID=Ann\n");
        QStringList problems;
        const PhoneSettings s = load(problems);
        EXPECT_EQ(s.ringTimeMs, c.ringTimeMs) << c.ringTime.constData();
        EXPECT_EQ(s.micVolume, c.micVolume) << c.mic.constData();
        // A bad ring time never costs the keys after it.
        EXPECT_EQ(s.unansweredMessage, "Gone");
        EXPECT_EQ(s.callerId, "Ann");
        EXPECT_EQ(problems, c.problem.isNull() ? QStringList() : QStringList{c.problem});
    }
}

TEST_F(SettingsStoreTest, EmptyCallerIdStaysEmpty) {
    write("[Settings]\nCallerID=\n");
    QStringList problems;
    EXPECT_EQ(load(problems).callerId, "");
}

TEST_F(SettingsStoreTest, MessageIsReadAsWritten) {
    // Whether a message would read as a call signal is the call's check, applied by the phone.
    for (const char* m : {"Accept", "Back|soon", "accept", "Out to lunch", ""}) {
        write(QByteArray("[Settings]\nMessage=") + m + "\n");
        QStringList problems;
        EXPECT_EQ(load(problems).unansweredMessage, QString::fromUtf8(m)) << m;
    }
}

TEST_F(SettingsStoreTest, SaveMicVolumeWritesDecimalAndKeepsTheRest) {
    write("[Settings]\nRingTime=5\nmicVolume=0x10\n");
    SettingsStore(path()).saveMicVolume(0);
    EXPECT_EQ(bytes(), "[Settings]\nRingTime=5\nmicVolume=0\n");
}

TEST_F(SettingsStoreTest, CameraDeviceIsReadAndWrittenAloneKeepingTheRest) {
    struct Case {
        const char* before;
        const char* was;
        const char* chosen;
        const char* after;
    } cases[] = {
        {"", "", "/dev/video1", "[Settings]\nCameraDevice=/dev/video1\n"},
        {"[Settings]\nRingTime=5\nmicVolume=3\n", "", "/dev/video2",
         "[Settings]\nRingTime=5\nmicVolume=3\nCameraDevice=/dev/video2\n"},
        {"[Settings]\nCameraDevice=/dev/video0\nMessage=Away\n", "/dev/video0", "/dev/video3",
         "[Settings]\nCameraDevice=/dev/video3\nMessage=Away\n"},
    };
    for (const Case& c : cases) {
        QFile::remove(path());
        if (*c.before)
            write(c.before);
        const SettingsStore store(path());
        EXPECT_EQ(store.cameraDevice(), c.was);
        store.saveCameraDevice(QString::fromLatin1(c.chosen));
        EXPECT_EQ(bytes(), c.after);
        EXPECT_EQ(store.cameraDevice(), c.chosen);
        QStringList problems;
        EXPECT_EQ(store.load("10.0.0.1", problems).cameraDevice, c.chosen);
        EXPECT_TRUE(problems.isEmpty());
    }
}

TEST_F(SettingsStoreTest, KeyTableNamesEachKeyOnceInFileOrder) {
    const QStringList expected{"RingTone",  "RingTime",     "Message",         "CallerID",
                               "micVolume", "CameraDevice", "PrivateCallsOnly"};
    QStringList names;
    for (const SettingsKeyInfo& info : kSettingsKeys) {
        names << settingsKeyName(info.key);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(kSettingsSection, "Settings");
}

TEST_F(SettingsStoreTest, DefaultsOfEveryKeyTable) {
    // A missing key and a key holding its default text read the same.
    struct Case {
        SettingsKey key;
        const char* defaultText;
    } cases[] = {
        {SettingsKey::RingTone, ""}, {SettingsKey::RingTime, "10"},  {SettingsKey::Message, "Unanswered"},
        {SettingsKey::CallerId, ""}, {SettingsKey::MicVolume, "85"}, {SettingsKey::CameraDevice, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(settingsText(PhoneSettings{}, c.key), c.defaultText) << c.defaultText;
        PhoneSettings taken;
        taken.ringTimeMs = 1;
        taken.micVolume = 1;
        taken.unansweredMessage.clear();
        EXPECT_EQ(takeSettingsText(taken, c.key, c.defaultText), "");
        EXPECT_EQ(settingsText(taken, c.key), c.defaultText);
    }
}

TEST_F(SettingsStoreTest, ValidationTable) {
    struct Case {
        SettingsKey key;
        const char* text;
        const char* stored; // the value as written back
        const char* problem;
    } cases[] = {
        {SettingsKey::RingTime, "7", "7", ""},
        {SettingsKey::RingTime, "$F", "15", ""},
        {SettingsKey::RingTime, "seven", "10", "'seven' is not a valid integer value"},
        {SettingsKey::RingTime, "-2", "-2", ""},
        {SettingsKey::MicVolume, "0x20", "32", ""},
        {SettingsKey::MicVolume, "loud", "85", ""},
        {SettingsKey::MicVolume, "-3", "-3", ""},
        {SettingsKey::Message, "Back|soon", "Back|soon", ""},
        {SettingsKey::RingTone, "/a b/ring.wav", "/a b/ring.wav", ""},
        {SettingsKey::CallerId, "", "", ""},
        {SettingsKey::PrivateCallsOnly, "1", "1", ""},
        {SettingsKey::PrivateCallsOnly, "0x2", "1", ""},
        {SettingsKey::PrivateCallsOnly, "yes", "0", ""}, // only a number turns it on
    };
    for (const Case& c : cases) {
        PhoneSettings s;
        EXPECT_EQ(takeSettingsText(s, c.key, c.text), c.problem) << c.text;
        EXPECT_EQ(settingsText(s, c.key), c.stored) << c.text;
    }
}

TEST_F(SettingsStoreTest, RoundTripIsByteForByte) {
    struct Case {
        QByteArray file;
    } cases[] = {
        {"[Settings]\nRingTone=/s/ring.wav\nRingTime=5\nMessage=Out to lunch\nCallerID=Desk "
         "9\nmicVolume=40\n"},
        {"[Settings]\nRingTone=\nRingTime=30\nMessage=\nCallerID=\nmicVolume=0\n"},
        {"[Other]\nx=1\n[Settings]\nRingTone=r\nRingTime=1\nMessage=m\nCallerID=c\nmicVolume=100\n"},
        // Our own key stays where it is, on or off; a file without it never gains it while off.
        {"[Settings]\nRingTone=r\nRingTime=1\nMessage=m\nCallerID=c\nmicVolume=1\nPrivateCallsOnly=1\n"},
        {"[Settings]\nRingTone=r\nRingTime=1\nMessage=m\nCallerID=c\nmicVolume=1\nPrivateCallsOnly=0\n"},
    };
    for (const Case& c : cases) {
        write(c.file);
        QStringList problems;
        const PhoneSettings loaded = load(problems);
        EXPECT_TRUE(problems.isEmpty());
        const SettingsStore store(path());
        store.saveDialogValues(loaded);
        store.saveMicVolume(loaded.micVolume);
        EXPECT_EQ(bytes(), c.file);
        EXPECT_EQ(load(problems), loaded);
    }
}

TEST_F(SettingsStoreTest, DialogValuesCreateTheFileInTheirOrder) {
    const SettingsStore store(dir.filePath("new/Settings.ini"));
    PhoneSettings s;
    s.ringTone = "t";
    s.ringTimeMs = 3000;
    s.unansweredMessage = "m";
    s.callerId = "c";
    store.saveDialogValues(s);
    QFile f(store.path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[Settings]\nRingTone=t\nRingTime=3\nMessage=m\nCallerID=c\n");
}

TEST_F(SettingsStoreTest, MicVolumeWhereNoDirectoryCanBeMadeRaisesUnableToWrite) {
    const QString blocked = dir.filePath("file");
    write("");
    QFile(path()).rename(blocked); // a file where the directory would be
    const SettingsStore store(blocked + "/Settings.ini");
    try {
        store.saveMicVolume(1);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.text(), "Unable to write to " + blocked + "/Settings.ini");
    }
}

TEST(ConfigLocationTest, OverrideThenProgramDirectoryThenUserConfig) {
    QTemporaryDir program;
    EXPECT_EQ(ConfigLocation("/tmp/x/../y", program.path()).directory(), "/tmp/y");
    EXPECT_EQ(ConfigLocation("", program.path()).settingsPath(), program.path() + "/Settings.ini");
    EXPECT_EQ(ConfigLocation("", program.path()).addressBookPath(), program.path() + "/IPAddress.dat");

    QTemporaryDir xdg;
    qputenv("XDG_CONFIG_HOME", xdg.path().toUtf8());
    EXPECT_EQ(ConfigLocation("", "/no/such/program/dir").directory(), xdg.path() + "/talvora");
    qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace talvora
