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

using test::FakeDnsSdClient;

// Bounds no busy machine reaches: only a resolve that never answers runs into one.
constexpr DiscoveryBounds kGenerous{60000, 30000, 16};

struct Source {
    explicit Source(DiscoveryBounds bounds = kGenerous) {
        auto fake = std::make_unique<FakeDnsSdClient>();
        dns = fake.get();
        source = std::make_unique<AvahiNetworkSource>(std::move(fake), bounds);
    }
    // One refresh and walk, as the discovery dialog does; empty when it never became ready.
    QStringList listing() {
        bool ready = false;
        QEventLoop loop;
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        source->refresh([&] {
            ready = true;
            loop.quit();
        });
        loop.exec();
        if (!ready) {
            return {};
        }
        return walkNetwork(
            *source, kResourceTypeDisk, kDisplayTypeServer, [] {}, [] { return true; });
    }
    FakeDnsSdClient* dns;
    std::unique_ptr<AvahiNetworkSource> source;
};

QByteArray bytes(const char* text, qsizetype size = -1) {
    return QByteArray(text, size < 0 ? qsizetype(qstrlen(text)) : size);
}

// Announced names go through the search, the list and "Add Host Names To List" into the file;
// read back, each entry hails the announced host and the book's own contacts are all there.
TEST(AvahiNetworkSource, HostileAnnouncementsReadBackAsTheAnnouncedHosts) {
    const QByteArray e255 = QString(125, QChar(0xE9)).toUtf8() + 'x'; // "cid=" + 251 bytes = 255
    struct Case {
        const char* what;
        QByteArray cid;
        QByteArray host;
        QString name; // as the book reads it back; null: the host is not added
    } cases[] = {
        {"NUL", bytes("\0a", 2), "nul.local", "a"},
        {"CR LF", "Bob\r\nMallory <203.0.113.66>\r\n", "crlf.local", "Bob Mallory ‹203.0.113.66›"},
        {"LF alone", "Eve\nX", "lf.local", "Eve X"},
        {"angles", "<b>x</b> <h1.local>", "angles.local", "‹b›x‹/b› ‹h1.local›"},
        {"a lone >", "a>b", "gt.local", "a›b"},
        {"tab, DEL, C1", "a\tb\x7f\xc2\x85", "ctl.local", "a b"},
        {"long", QByteArray(300, 'x'), "long.local", QString(252, 'x') + "…"},
        {"invalid UTF-8", "\xff\xfeJos\xe9", "cp1252.local", "ÿþJosé"},
        {"255-byte UTF-8", e255, "utf8.local", QString::fromUtf8(e255)},
        {"only controls", "\r\n", "inst.local", "only controls"}, // the instance name instead
        {"a host with angles", "H", "h<1>.local", {}},
        {"a host with a line break", "H", "h\r\n2.local", {}},
        {"a host with a NUL", "H", bytes("h\0003.local", 9), {}},
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
    AddressBook reread;
    reread.replace(text.entries);
    EXPECT_EQ(reread.entries(), book.entries());
    for (const QString& entry : own) {
        EXPECT_TRUE(reread.entries().contains(entry)) << entry.toStdString();
    }
    int expected = int(own.size());
    for (const Case& c : cases) {
        const QString host = QString::fromUtf8(c.host);
        const auto it =
            std::find_if(reread.entries().cbegin(), reread.entries().cend(), [&](const QString& e) {
                return e.endsWith(QLatin1Char('>')) && hailingAddress(e) == host;
            });
        if (c.name.isNull()) {
            EXPECT_EQ(it, reread.entries().cend()) << c.what;
            continue;
        }
        ++expected;
        ASSERT_NE(it, reread.entries().cend()) << c.what;
        EXPECT_EQ(*it, contactEntry(c.name, host)) << c.what;
        EXPECT_EQ(listedHost(*it), host) << c.what;
    }
    EXPECT_EQ(reread.count(), expected);
    EXPECT_EQ(addListedHosts(lines, reread), 0); // the duplicate check sees every one of them
}

TEST(AvahiNetworkSource, BackToBackRefreshesListEveryHostEveryTime) {
    constexpr int kPhones = 309;
    Source net;
    for (int i = 0; i < kPhones; ++i) {
        net.dns->services.append({"_talvora._udp",
                                  "p" + QByteArray::number(i),
                                  "phone-" + QByteArray::number(i) + ".local",
                                  {"cid=P"},
                                  i % 37});
    }
    // Refresh right after a listing, ten times; then abandon a refresh part-way (the dialog closed
    // during a search) and refresh again at once, ten times.
    QList<int> listed;
    for (int round = 0; round < 10; ++round) {
        listed << int(net.listing().size() / 4);
    }
    for (int round = 0; round < 10; ++round) {
        const int started = net.dns->resolvesStarted;
        net.source->refresh([] {});
        test::waitUntil([&] { return net.dns->resolvesStarted > started + kPhones / 2; });
        net.source->cancel();
        EXPECT_EQ(net.dns->liveOperations(), 0);
        listed << int(net.listing().size() / 4);
    }
    EXPECT_EQ(listed, QList<int>(20, kPhones));
    EXPECT_LE(net.dns->mostResolvesAtOnce, DiscoveryBounds{}.resolvesAtOnce);
}

TEST(AvahiNetworkSource, StoppingASearchStopsAllItStartedAndItsReadyNeverRuns) {
    Source net;
    net.dns->services = {{"_talvora._udp", "a", "a.local", {}, 50}, {"_ssh._tcp", "b", "b.local", {}, -1}};
    int readies = 0;
    net.source->refresh([&readies] { ++readies; });
    ASSERT_TRUE(test::waitUntil([&] { return net.dns->resolvesStarted == 2; }));
    net.source->refresh([&readies] { readies += 100; }); // replaces the first search
    net.source->cancel();
    EXPECT_EQ(net.dns->liveOperations(), 0);
    test::pumpEvents(150);
    EXPECT_EQ(readies, 0);
}

TEST(AvahiNetworkSource, ASilentHostOrALostDaemonEndsTheRefreshWithWhatItHas) {
    Source net({60000, 100});
    net.dns->services = {{"_talvora._udp", "a", "a.local", {}, 0}, {"_ssh._tcp", "b", "b.local", {}, -1}};
    EXPECT_EQ(net.listing().size(), 4); // b's resolve ran out of time; a is listed

    bool ready = false;
    net.source->refresh([&ready] { ready = true; });
    ASSERT_TRUE(test::waitUntil([&] { return net.dns->resolvesStarted == 4; }));
    net.dns->loseDaemon();
    EXPECT_EQ(net.dns->liveOperations(), 0); // dropped before the daemon's client goes
    EXPECT_TRUE(test::waitUntil([&ready] { return ready; }));
}

TEST(AvahiNetworkSource, OneEntryPerHostUnderItsBestKindAndNeverThisMachine) {
    Source net;
    net.dns->services = {
        {"_ssh._tcp", "ssh on h", "h.local", {}, 0},
        {"_talvora._udp", "Phone", "H.local", {"txtvers=1", "CID=Bea"}, 5},
        {"_talvora._udp", "Me", "me.local", {"cid=me"}, 0},
        {"_workstation._tcp", "w", "w.local", {}, 0},
    };
    const QStringList expected = {
        "Computer Name: Bea",
        "Host Name and Connection Path: \\\\H.local",
        "Network Provider: Talvora phone",
        "",
        "Computer Name: w",
        "Host Name and Connection Path: \\\\w.local",
        "Network Provider: Workstation",
        "",
    };
    EXPECT_EQ(net.listing(), expected);
}

} // namespace
} // namespace talvora
