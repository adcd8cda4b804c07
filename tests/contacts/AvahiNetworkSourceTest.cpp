#include "contacts/AvahiNetworkSource.h"
#include "contacts/AddressBook.h"
#include "contacts/AddressBookFile.h"
#include "contacts/ContactEntry.h"
#include "contacts/DiscoveryWalk.h"
#include "contacts/FakeDnsSdClient.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include "support/EventLoop.h"
#include "support/QtPrinters.h"

namespace talvora {
namespace {

struct Source {
    // By default, bounds no busy machine reaches: only a resolve that never answers meets one.
    explicit Source(DiscoveryBounds bounds = {60000, 60000, 30000, 16}) {
        auto fake = std::make_unique<test::FakeDnsSdClient>();
        dns = fake.get();
        source = std::make_unique<AvahiNetworkSource>(std::move(fake), bounds);
    }
    // One refresh and walk, as the discovery dialog does; empty when it never became ready.
    QStringList listing() {
        QEventLoop loop;
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        bool ready = false;
        source->refresh([&] {
            ready = true;
            loop.quit();
        });
        loop.exec();
        return ready ? walkNetwork(*source, kResourceTypeDisk, kDisplayTypeServer) : QStringList();
    }
    test::FakeDnsSdClient* dns;
    std::unique_ptr<AvahiNetworkSource> source;
};

// Announced names go through the search, the list and "Add Host Names To List" into the file;
// read back, each entry hails the announced host and the book's own contacts are all there.
TEST(AvahiNetworkSource, HostileAnnouncementsReadBackAsTheAnnouncedHosts) {
    const QByteArray e251 = QString(125, QChar(0xE9)).toUtf8() + 'x'; // the most after "cid="
    struct Case {
        const char* what; // also the instance name
        QByteArray cid;
        QByteArray host;
        QString name; // as the book reads it back; null: the host is not added
    } cases[] = {
        {"NUL", QByteArray("\0a", 2), "nul.local", "a"},
        {"CR LF", "Bob\r\nMallory <203.0.113.66>\r\n", "crlf.local", "Bob Mallory ‹203.0.113.66›"},
        {"angles", "<b>x</b> <h1.local>", "angles.local", "‹b›x‹/b› ‹h1.local›"},
        {"a lone >", "a>b", "gt.local", "a›b"},
        {"tab, DEL, C1", "a\tb\x7f\xc2\x85", "ctl.local", "a b"},
        {"long", QByteArray(300, 'x'), "long.local", QString(252, 'x') + "…"},
        {"invalid UTF-8", "\xff\xfeJos\xe9", "cp1252.local", "ÿþJosé"},
        {"251-byte UTF-8", e251, "utf8.local", QString::fromUtf8(e251)},
        {"only controls", "\r\n", "inst.local", "only controls"}, // the instance name instead
        {"a host with angles", "H", "h<1>.local", {}},
        {"a host with a line break", "H", "h\r\n2.local", {}},
        {"a host with a NUL", "H", QByteArray("h\0003.local", 9), {}},
    };
    Source net;
    for (const Case& c : cases) {
        net.dns->services.append({"_talvora._udp", c.what, c.host, {"txtvers=1", "cid=" + c.cid}});
    }
    const QStringList lines = net.listing();
    const QStringList own = {"Anna <192.168.1.20>", "Zed <zed.local>"};
    AddressBook book;
    book.replace(own);
    addListedHosts(lines, book);
    const QByteArray file = addressBookBytes(book.entries());
    const AddressBookText text = parseAddressBook(file, file.size());
    EXPECT_TRUE(text.whole());
    EXPECT_EQ(text.entries, book.entries());

    QStringList expected = own;
    for (const Case& c : cases) {
        if (!c.name.isNull()) {
            expected << contactEntry(c.name, QString::fromUtf8(c.host));
        }
    }
    expected.sort(Qt::CaseInsensitive);
    EXPECT_EQ(text.entries, expected);
    for (const QString& entry : text.entries) {
        EXPECT_EQ(hailingAddress(entry), listedHost(entry)) << entry.toStdString();
    }
    EXPECT_EQ(addListedHosts(lines, book), 0); // the duplicate check sees every one of them
}

TEST(AvahiNetworkSource, BackToBackRefreshesListEveryHostEveryTime) {
    constexpr int kPhones = 309;
    Source net;
    for (int i = 0; i < kPhones; ++i) {
        const QByteArray n = QByteArray::number(i);
        net.dns->services.append({"_talvora._udp", "p" + n, "phone-" + n + ".local", {"cid=P"}, i % 5});
    }
    // Refresh right after a listing, ten times; then abandon a refresh part-way (the dialog closed
    // during a search) and refresh again at once, ten times.
    QList<int> listed;
    for (int round = 0; round < 20; ++round) {
        if (round >= 10) {
            const int started = net.dns->resolvesStarted;
            net.source->refresh([] {});
            test::waitUntil([&] { return net.dns->resolvesStarted > started + kPhones / 2; });
            net.source->cancel();
            EXPECT_EQ(net.dns->liveOperations(), 0);
        }
        listed << int(net.listing().size() / 4);
    }
    EXPECT_EQ(listed, QList<int>(20, kPhones));
    EXPECT_LE(net.dns->mostResolvesAtOnce, 16);
}

TEST(AvahiNetworkSource, StoppedOrCutShortTheRefreshEndsWithNothingLeftRunning) {
    Source net({60000, 60000, 100, 16});
    net.dns->services = {{"_talvora._udp", "a", "a.local", {}, 0}, {"_ssh._tcp", "b", "b.local", {}, -1}};
    EXPECT_EQ(net.listing().size(), 4); // b never answers and runs out of time; a is listed
    Source stuck({200, 60000, 30000, 16});
    stuck.dns->services = net.dns->services;
    stuck.dns->browsesHang = true;
    EXPECT_EQ(stuck.listing().size(), 4); // ends once the daemon has said nothing for a while

    int readies = 0;
    net.source->refresh([&readies] { ++readies; });
    ASSERT_TRUE(test::waitUntil([&] { return net.dns->resolvesStarted == 4; }));
    net.source->refresh([&readies] { readies += 10; }); // replaces the running one
    net.source->cancel();
    EXPECT_EQ(net.dns->liveOperations(), 0);
    test::pumpEvents(150);
    EXPECT_EQ(readies, 0);

    net.source->refresh([&readies] { readies += 100; });
    ASSERT_TRUE(test::waitUntil([&] { return net.dns->resolvesStarted == 6; }));
    net.dns->loseDaemon();
    EXPECT_EQ(net.dns->liveOperations(), 0); // dropped before the daemon's client goes
    EXPECT_TRUE(test::waitUntil([&] { return readies == 100; }));
}

} // namespace
} // namespace talvora
