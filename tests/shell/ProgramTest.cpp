#include "app/Program.h"
#include "shell/Main.h"

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
        {"frmMain", "talvora::TfrmMain", {1000, 650}},
        {"frmCalling", "talvora::TfrmCalling", {383, 134}},
        {"frmIP", "talvora::TfrmIP", {497, 412}},
        {"frmNetworkClients", "talvora::TfrmNetworkClients", {655, 375}},
        {"frmExport", "talvora::TfrmExport", {306, 125}},
        {"frmSettings", "talvora::TfrmSettings", {474, 231}},
        {"frmVideoOptions", "talvora::TfrmVideoOptions", {298, 184}},
        {"frmCCN", "talvora::TfrmCCN", {158, 141}},
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
