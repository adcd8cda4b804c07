#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

TEST(CommandLineTest, NoOptionsChangeNothing) {
    const CommandLine c = parseCommandLine({});
    EXPECT_EQ(c.action, CommandLine::Action::Run);
    EXPECT_TRUE(c.configDir.isEmpty());
    EXPECT_FALSE(c.network.isBound());
    EXPECT_FALSE(c.testCamera);
}

TEST(CommandLineTest, OptionsTable) {
    struct Case {
        QStringList args;
        CommandLine::Action action;
        const char* configDir;
        const char* bind;
        bool testCamera;
        const char* cameraSpec;
    } cases[] = {
        {{"--config-dir", "/tmp/a"}, CommandLine::Action::Run, "/tmp/a", "0.0.0.0", false, ""},
        {{"--config-dir=/tmp/b", "--bind", "127.0.0.2"},
         CommandLine::Action::Run,
         "/tmp/b",
         "127.0.0.2",
         false,
         ""},
        {{"--test-camera"}, CommandLine::Action::Run, "", "0.0.0.0", true, ""},
        {{"--test-camera=I420:640x480", "--bind=127.0.0.3"},
         CommandLine::Action::Run,
         "",
         "127.0.0.3",
         true,
         "I420:640x480"},
        {{"--bind", "::1"}, CommandLine::Action::Fail, "", "0.0.0.0", false, ""},
        {{"--bind", "host.example"}, CommandLine::Action::Fail, "", "0.0.0.0", false, ""},
        {{"--bind"}, CommandLine::Action::Fail, "", "0.0.0.0", false, ""},
        {{"--frobnicate"}, CommandLine::Action::Fail, "", "0.0.0.0", false, ""},
        {{"stray"}, CommandLine::Action::Fail, "", "0.0.0.0", false, ""},
        {{"--config-dir="}, CommandLine::Action::Fail, "", "0.0.0.0", false, ""},
        {{"--help"}, CommandLine::Action::ShowHelp, "", "0.0.0.0", false, ""},
        {{"-h"}, CommandLine::Action::ShowHelp, "", "0.0.0.0", false, ""},
        {{"--version"}, CommandLine::Action::ShowVersion, "", "0.0.0.0", false, ""},
    };
    for (const auto& c : cases) {
        const CommandLine r = parseCommandLine(c.args);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(r.action, c.action) << what;
        if (r.action == CommandLine::Action::Fail) {
            EXPECT_FALSE(r.output.isEmpty()) << what;
            continue;
        }
        EXPECT_EQ(r.configDir, QString(c.configDir)) << what;
        EXPECT_EQ(r.network.bindAddress.toString(), QString(c.bind)) << what;
        EXPECT_EQ(r.testCamera, c.testCamera) << what;
        EXPECT_EQ(r.testCameraSpec, QString(c.cameraSpec)) << what;
    }
}

TEST(CommandLineTest, HelpListsEveryOption) {
    const QString help = parseCommandLine({"--help"}).output;
    for (const char* option : {"--help", "--version", "--config-dir", "--bind", "--test-camera"}) {
        EXPECT_TRUE(help.contains(option)) << option;
    }
    EXPECT_TRUE(help.startsWith("Usage: talvora"));
    EXPECT_TRUE(parseCommandLine({"--version"}).output.startsWith("Talvora Video Phone "));
}

} // namespace
} // namespace talvora
