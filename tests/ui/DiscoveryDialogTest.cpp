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

TEST_F(DiscoveryDialogTest, OpeningWalksAndAddingAddsTheNewHostsAndCloses) {
    book.replace({"Server <anna.local>"});
    dlg.show();
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

TEST_F(DiscoveryDialogTest, WhileTheSnapshotIsGatheredTheProgressWindowAnimatesAndClicksWait) {
    dlg.show();
    net.holdRefresh = true;
    net.containers["_talvora._udp"].removeFirst(); // Anna has gone
    // Checks once the walk waits for the network (timers run in the walk's nested event loop).
    QTimer poll;
    bool checked = false;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &dlg, [&] {
        if (checked || !net.pending()) {
            return;
        }
        checked = true;
        EXPECT_TRUE(dlg.walking());
        EXPECT_TRUE(progress.isVisible());
        EXPECT_TRUE(progress.indicator()->animating());
        const int frame = progress.indicator()->frame();
        EXPECT_TRUE(test::waitUntil([&] { return progress.indicator()->frame() != frame; }));
        EXPECT_TRUE(dlg.lines().isEmpty());
        // A second refresh and an add in the middle of the walk change nothing.
        dlg.onRefreshClicked();
        dlg.onAddClicked();
        EXPECT_TRUE(book.entries().isEmpty());
        EXPECT_TRUE(dlg.isVisible());
        net.release();
    });
    poll.start();
    dlg.onRefreshClicked();
    EXPECT_TRUE(checked);
    EXPECT_EQ(net.refreshes, 2);
    EXPECT_EQ(dlg.lines().size(), 4);
    EXPECT_EQ(dlg.lines()[0], "Computer Name: ");
    EXPECT_FALSE(progress.isVisible());
    EXPECT_FALSE(progress.indicator()->animating());
}

TEST_F(DiscoveryDialogTest, ClosingDuringAWalkAbandonsItAndAddsNothing) {
    dlg.show();
    net.holdRefresh = true;
    QTimer::singleShot(0, &dlg, [&] { dlg.reject(); });
    dlg.onRefreshClicked();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.walking());
    EXPECT_FALSE(net.pending());
    EXPECT_TRUE(dlg.lines().isEmpty());
    EXPECT_TRUE(book.entries().isEmpty());
    EXPECT_EQ(net.reads, 4); // only the opening's walk read the network: root, one type, two hosts
}

} // namespace
} // namespace talvora
