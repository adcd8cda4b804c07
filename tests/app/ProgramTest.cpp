#include "app/Program.h"
#include "ui/MainWindow.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

TEST(ProgramTest, CreatesTheEightWindowsHiddenInTheirOrder) {
    QTemporaryDir dir;
    CommandLine options;
    options.configDir = dir.path();
    Program program(options, dir.path());
    struct Expected {
        const char* objectName;
        const char* className;
        QSize size;
    } expected[] = {
        {"frmMain", "talvora::MainWindow", {1000, 650}},
        {"frmCalling", "talvora::CallingDialog", {383, 134}},
        {"frmIP", "talvora::AddressBookDialog", {497, 412}},
        {"frmNetworkClients", "talvora::DiscoveryDialog", {655, 375}},
        {"frmExport", "talvora::SearchProgressWindow", {306, 125}},
        {"frmSettings", "talvora::SettingsDialog", {474, 231}},
        {"frmVideoOptions", "talvora::VideoOptionsDialog", {298, 184}},
        {"frmCCN", "talvora::VoiceEngineWindow", {158, 141}},
    };
    const QList<QWidget*> windows = program.windowsInCreationOrder();
    ASSERT_EQ(windows.size(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(windows[i]->objectName(), expected[i].objectName);
        EXPECT_STREQ(windows[i]->metaObject()->className(), expected[i].className) << expected[i].objectName;
        EXPECT_EQ(windows[i]->size(), expected[i].size) << expected[i].objectName;
        EXPECT_FALSE(windows[i]->isVisible()) << expected[i].objectName;
    }
}

} // namespace
} // namespace talvora
