// The discovery dialog and its progress window over an in-memory network.

#include "ui/DiscoveryDialog.h"
#include "contacts/AddressBook.h"
#include "contacts/FakeNetworkSource.h"
#include "support/EventLoop.h"
#include "support/QtPrinters.h"
#include "ui/BusyIndicator.h"
#include "ui/RbButton.h"
#include "ui/SearchProgressWindow.h"

#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace talvora {
namespace {

NetworkResource server(const QString& host, const QString& comment) {
    return {kDisplayTypeServer, kUsageContainer, "\\\\" + host, comment, QStringLiteral("Talvora phone")};
}

class DiscoveryDialogTest : public ::testing::Test {
protected:
    DiscoveryDialogTest() {
        net.containers[""] = {{kDisplayTypeDomain, kUsageContainer, "_talvora._udp", {}, {}}};
        net.containers["_talvora._udp"] = {server("anna.local", "Anna"), server("bob.local", "")};
        dlg.setProgressWindow(&progress);
    }

    test::FakeNetworkSource net;
    AddressBook book;
    SearchProgressWindow progress;
    DiscoveryDialog dlg{book, net};
};

TEST_F(DiscoveryDialogTest, WindowsAndControls) {
    EXPECT_EQ(dlg.objectName(), "frmNetworkClients");
    EXPECT_EQ(dlg.windowTitle(), "Online Network Clients");
    EXPECT_EQ(dlg.size(), QSize(655, 375));
    EXPECT_EQ(dlg.findChild<QToolButton*>("SpeedButton1")->geometry(), QRect(536, 10, 23, 22));
    EXPECT_EQ(dlg.findChild<QToolButton*>("SpeedButton1")->toolTip(), "Refresh List");
    EXPECT_EQ(dlg.findChild<QListWidget*>("ListBox1")->geometry(), QRect(16, 40, 623, 289));
    EXPECT_EQ(dlg.findChild<RbButton*>("btnAdd")->text(), "Add Host Names To List");
    EXPECT_EQ(progress.objectName(), "frmExport");
    EXPECT_EQ(progress.windowTitle(), "Searching For Network Clients...");
    EXPECT_EQ(progress.size(), QSize(306, 125));
    EXPECT_EQ(progress.findChild<QLabel*>("lblStatus")->text(), "Searching...");
    EXPECT_EQ(progress.findChild<QWidget*>("RxGIFAnimator1")->geometry(), QRect(136, 16, 32, 32));
}

TEST_F(DiscoveryDialogTest, OpeningWalksOnceOnScreenAndAddingAddsTheNewHostsAndCloses) {
    book.replace({"Server <anna.local>"});
    dlg.show();
    EXPECT_EQ(net.refreshes, 0); // the walk starts from the event loop, with the dialog up
    ASSERT_TRUE(test::waitUntil([&] { return !dlg.lines().isEmpty(); }));
    EXPECT_EQ(dlg.lines(),
              (QStringList{"Computer Name: Anna", "Host Name and Connection Path: \\\\anna.local",
                           "Network Provider: Talvora phone", "",
                           "Computer Name: ", "Host Name and Connection Path: \\\\bob.local",
                           "Network Provider: Talvora phone", ""}));
    EXPECT_FALSE(progress.isVisible());
    dlg.findChild<RbButton*>("btnAdd")->click();
    EXPECT_EQ(book.entries(), (QStringList{" <bob.local>", "Server <anna.local>"}));
    EXPECT_FALSE(dlg.isVisible());
}

// While the snapshot is gathered the dialog stays usable: the progress window animates, a
// second refresh and an add change nothing, and closing abandons the walk with an empty list.
TEST_F(DiscoveryDialogTest, WhileTheSnapshotIsGatheredClicksWaitAndClosingAbandons) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "closed" : "released");
        net.holdRefresh = true;
        net.refreshes = 0;
        dlg.show();
        ASSERT_TRUE(test::waitUntil([&] { return net.pending(); }));
        EXPECT_TRUE(dlg.walking());
        EXPECT_TRUE(progress.isVisible());
        EXPECT_TRUE(progress.indicator()->animating());
        const int frame = progress.indicator()->frame();
        EXPECT_TRUE(test::waitUntil([&] { return progress.indicator()->frame() != frame; }));
        dlg.onRefreshClicked();
        dlg.onAddClicked();
        EXPECT_EQ(net.refreshes, 1);
        EXPECT_TRUE(book.entries().isEmpty());
        EXPECT_TRUE(dlg.isVisible());
        if (close) {
            dlg.reject();
            EXPECT_FALSE(net.pending());
            EXPECT_TRUE(dlg.lines().isEmpty());
        } else {
            net.release();
            EXPECT_EQ(dlg.lines().size(), 8);
            dlg.reject();
        }
        EXPECT_FALSE(dlg.walking());
        EXPECT_FALSE(progress.isVisible());
        EXPECT_FALSE(progress.indicator()->animating());
        EXPECT_TRUE(book.entries().isEmpty());
    }
}

} // namespace
} // namespace talvora
