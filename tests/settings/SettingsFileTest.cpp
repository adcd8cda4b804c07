#include "settings/SettingsFile.h"
#include "settings/ConfigLocation.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Settings.ini"); }
    void write(const QByteArray& bytes) {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    PhoneSettings load(QStringList& problems) {
        return loadPhoneSettings(IniFile(path()), "192.0.2.7", problems);
    }
};

TEST_F(SettingsFileTest, DefaultsWithoutAFile) {
    QStringList problems;
    const PhoneSettings s = load(problems);
    EXPECT_EQ(s.ringTone, "");
    EXPECT_EQ(s.ringTimeMs, 10000);
    EXPECT_EQ(s.message, "Unanswered");
    EXPECT_EQ(s.callerId, "192.0.2.7");
    EXPECT_EQ(s.micVolume, 85);
    EXPECT_TRUE(problems.isEmpty());
    EXPECT_FALSE(QFile::exists(path())); // not created at start
}

TEST_F(SettingsFileTest, ConversionsTable) {
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
        EXPECT_EQ(s.message, "Gone");
        EXPECT_EQ(s.callerId, "Ann");
        EXPECT_EQ(problems, c.problem.isNull() ? QStringList() : QStringList{c.problem});
    }
}

TEST_F(SettingsFileTest, EmptyCallerIdStaysEmpty) {
    write("[Settings]\nCallerID=\n");
    QStringList problems;
    EXPECT_EQ(load(problems).callerId, "");
}

TEST_F(SettingsFileTest, MessageThatReadsAsKeywordFallsBackToUnanswered) {
    for (const char* m : {"Accept", "Cancel", "Calling", "Back|soon", "|"}) {
        write(QByteArray("[Settings]\nMessage=") + m + "\n");
        QStringList problems;
        EXPECT_EQ(load(problems).message, "Unanswered") << m;
    }
    for (const char* m : {"accept", "Out to lunch", ""}) {
        write(QByteArray("[Settings]\nMessage=") + m + "\n");
        QStringList problems;
        EXPECT_EQ(load(problems).message, QString::fromUtf8(m)) << m;
    }
}

TEST_F(SettingsFileTest, SaveMicVolumeWritesDecimalAndKeepsTheRest) {
    write("[Settings]\nRingTime=5\nmicVolume=0x10\n");
    IniFile ini(path());
    saveMicVolume(ini, 0);
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[Settings]\nRingTime=5\nmicVolume=0\n");
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
