#include "contacts/DiscoveryWalk.h"
#include "contacts/AddressBook.h"
#include "contacts/FakeNetworkSource.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

NetworkResource container(const QString& name) {
    return {kDisplayTypeDomain, kUsageContainer, name, {}, QStringLiteral("Talvora")};
}
NetworkResource server(const QString& host, const QString& comment,
                       const QString& provider = "Windows share") {
    return {kDisplayTypeServer, kUsageContainer, "\\\\" + host, comment, provider};
}

QStringList walk(test::FakeNetworkSource& net, int filter = kDisplayTypeServer) {
    return walkNetwork(net, kResourceTypeDisk, filter);
}

TEST(DiscoveryWalk, ListsServersDepthFirstWithFourLinesEach) {
    test::FakeNetworkSource net;
    net.containers[""] = {container("WORKGROUP"), container("OTHER")};
    net.containers["WORKGROUP"] = {server("A", "Office"), server("B", "")};
    net.containers["\\\\A"] = {{1, 0, "\\\\A\\share", "a share", "x"}}; // a share: walked, not listed
    net.containers["OTHER"] = {server("C", "Lab", "SSH")};
    const QStringList expected = {
        "Computer Name: Office",
        "Host Name and Connection Path: \\\\A",
        "Network Provider: Windows share",
        "",
        "Computer Name: ",
        "Host Name and Connection Path: \\\\B",
        "Network Provider: Windows share",
        "",
        "Computer Name: Lab",
        "Host Name and Connection Path: \\\\C",
        "Network Provider: SSH",
        "",
    };
    EXPECT_EQ(walk(net), expected);
    // Filter 0 lists every entry, containers and shares included, in the same order.
    const QStringList all = walk(net, 0);
    ASSERT_EQ(all.size(), 6 * 4);
    EXPECT_EQ(all[0], "Computer Name: ");
    EXPECT_EQ(all[1], "Host Name and Connection Path: WORKGROUP");
    EXPECT_EQ(all[9], "Host Name and Connection Path: \\\\A\\share");
}

TEST(DiscoveryWalk, UnreadableContainersAreSkippedAndNoNetworkListsNothing) {
    test::FakeNetworkSource net;
    EXPECT_TRUE(walk(net).isEmpty()); // the root cannot be read
    net.containers[""] = {container("GONE"), server("S", "s")};
    EXPECT_EQ(walk(net).size(), 4);
}

TEST(DiscoveryWalk, AContainerInsideItselfEndsAtTheDepthBound) {
    test::FakeNetworkSource net;
    net.containers[""] = {server("loop", "x")};
    net.containers["\\\\loop"] = {server("loop", "x")};
    EXPECT_EQ(walk(net).size(), 17 * 4);
}

TEST(DiscoveryWalk, AddingHostsFollowsTheComputerAndHostLines) {
    struct Case {
        const char* what;
        QStringList book;
        QStringList lines;
        QStringList after;
    } cases[] = {
        {"two servers",
         {},
         {"Computer Name: Office", "Host Name and Connection Path: \\\\A", "Network Provider: p", "",
          "Computer Name: ", "Host Name and Connection Path: \\\\B", "Network Provider: p", ""},
         {" <B>", "Office <A>"}},
        {"already listed",
         {"Office <A>", " <B>"},
         {"Computer Name: Office", "Host Name and Connection Path: \\\\A",
          "Computer Name: ", "Host Name and Connection Path: \\\\B"},
         {" <B>", "Office <A>"}},
        {"case counts",
         {"Server <a>"},
         {"Computer Name: X", "Host Name and Connection Path: \\\\A"},
         {"Server <a>", "X <A>"}},
        {"reported twice",
         {},
         {"Computer Name: X", "Host: \\\\h", "Computer Name: Y", "Host: \\\\h"},
         {"X <h>"}},
        {"no backslashes", {}, {"Computer Name: X", "Host without a path"}, {}},
        {"no colon", {}, {"Computer", "Host \\\\h"}, {" <h>"}},
        {"colon last", {}, {"Computer:", "Host \\\\h"}, {" <h>"}},
        {"computer without blank", {}, {"ComputerName:Lab", "Host \\\\h"}, {"ab <h>"}},
        {"lowercase prefixes skip", {}, {"computer Name: X", "host \\\\h"}, {}},
    };
    for (const auto& c : cases) {
        AddressBook book;
        book.replace(c.book);
        addListedHosts(c.lines, book);
        EXPECT_EQ(book.entries(), c.after) << c.what;
    }
}

} // namespace
} // namespace talvora
