// One side of the two-namespace DNS-SD tests, run inside a namespace with that side's bus:
//   avahi_pair_helper publish CALLER_ID     announces a phone until it is stopped
//   avahi_pair_helper browse CALLER_ID HOST [ROUNDS]
//                                           walks the network with the real Avahi source (ROUNDS
//                                           times, default 1), prints the lines and how long
//                                           each walk took, and resolves HOST through Avahi;
//                                           exits 0 when the phone is listed with its caller ID,
//                                           "\\HOST" and its provider, and the host resolved
//   avahi_pair_helper add CALLER_ID HOST    walks twice and adds both walks' lines to an empty
//                                           address book as "Add Host Names To List" does;
//                                           exits 0 when that added exactly the phone, once
//   avahi_pair_helper call HOST MESSAGE     looks HOST up as the phone does (system resolver,
//                                           then multicast DNS), sends "Calling|probe" to its
//                                           port 6767 from port 6767 and exits 0 when MESSAGE
//                                           comes back from the address looked up
//   avahi_pair_helper gone CALLER_ID SECONDS
//                                           refreshes until the phone is no longer listed (once
//                                           when SECONDS is 0), printing each round; exits 0
//                                           when it went within SECONDS
//   avahi_pair_helper publish-hostile       announces the hostile phones of kHostile (each on a
//                                           host name of its own, hostile-N.local, at
//                                           192.0.2.2) and a phone whose caller ID is 126 "é"
//                                           through the phone's own publisher, until stopped
//   avahi_pair_helper hostile HOST          walks, adds what it lists to a book of two contacts,
//                                           saves it, reads it back and prints each hostile name
//                                           with what it reads back as; exits 0 when the two
//                                           contacts survive and every host reads back as
//                                           kHostile (and HOST, the 126 "é" phone) says
//   avahi_pair_helper publish-many COUNT    announces COUNT phones, phone-N.local, until stopped
//   avahi_pair_helper refresh-many COUNT ROUNDS
//                                           waits until COUNT phones are listed, then refreshes
//                                           ROUNDS times back to back (each refresh from the end
//                                           of the last) and ROUNDS times abandoning a refresh
//                                           part-way and starting the next at once; prints how
//                                           many phones each listed; exits 0 when all did
#include "base/HostResolver.h"
#include "contacts/AddressBook.h"
#include "contacts/AddressBookFile.h"
#include "contacts/AvahiConnection.h"
#include "contacts/AvahiNetworkSource.h"
#include "contacts/ContactEntry.h"
#include "contacts/DiscoveryWalk.h"
#include "contacts/MdnsResolver.h"
#include "contacts/ServicePublisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <avahi-common/strlst.h>

#include <csignal>
#include <cstdio>

using namespace talvora;

namespace {

constexpr quint16 kSignalPort = 6767;

// SIGTERM ends the event loop, so that the announcements are withdrawn on the way out.
int runUntilStopped() {
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return QCoreApplication::exec();
}

int publish(const QString& callerId) {
    ServicePublisher publisher(callerId);
    return runUntilStopped();
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A source whose client has reached the running state.
std::unique_ptr<AvahiNetworkSource> settledSource() {
    auto source = std::make_unique<AvahiNetworkSource>();
    runFor(300);
    return source;
}

// One refresh and walk of the servers, as the discovery dialog does; prints how long it took and
// every server listed.
QStringList walkOnce(AvahiNetworkSource& source, int round, bool printServers = true) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop wait;
    bool ready = false;
    source.refresh([&] {
        ready = true;
        wait.quit();
    });
    if (!ready) {
        wait.exec();
    }
    const QStringList lines = walkNetwork(source, kResourceTypeDisk, kDisplayTypeServer);
    std::printf("walk %d: %lld ms, %lld lines\n", round, static_cast<long long>(clock.elapsed()),
                static_cast<long long>(lines.size()));
    for (int i = 0; printServers && i + 2 < lines.size(); i += 4) {
        std::printf("  %s | %s | %s\n", qPrintable(lines[i]), qPrintable(lines[i + 1]),
                    qPrintable(lines[i + 2]));
    }
    std::fflush(stdout);
    return lines;
}

// Whether the walk lists the phone with its caller ID, provider and (when given) host.
bool listsPhone(const QStringList& lines, const QString& callerId, const QString& host = {}) {
    for (int i = 0; i + 2 < lines.size(); i += 4) {
        if (lines[i] == "Computer Name: " + callerId &&
            (host.isEmpty() || lines[i + 1] == "Host Name and Connection Path: \\\\" + host) &&
            lines[i + 2] == "Network Provider: Talvora phone") {
            return true;
        }
    }
    return false;
}

int browse(const QString& callerId, const QString& host, int rounds) {
    const auto source = settledSource();
    bool listed = false;
    for (int round = 1; round <= rounds; ++round) {
        listed = listsPhone(walkOnce(*source, round), callerId, host) || listed;
    }
    QElapsedTimer clock;
    clock.start();
    const std::optional<QHostAddress> address = resolveMdnsIPv4(host);
    std::printf("%s resolves to %s in %lld ms\n", qPrintable(host),
                address ? qPrintable(address->toString()) : "nothing",
                static_cast<long long>(clock.elapsed()));
    return listed && address ? 0 : 1;
}

int add(const QString& callerId, const QString& host) {
    const auto source = settledSource();
    // Two walks' lines list the phone twice; the book must take it once.
    const QStringList lines = walkOnce(*source, 1) + walkOnce(*source, 2);
    AddressBook book;
    const int added = addListedHosts(lines, book);
    const int addedAgain = addListedHosts(lines, book);
    std::printf("added %d, then %d:\n", added, addedAgain);
    for (const QString& entry : book.entries()) {
        std::printf("  %s\n", qPrintable(entry));
    }
    const bool ok = added == 1 && addedAgain == 0 && book.count() == 1 &&
                    book.entries().first() == contactEntry(callerId, host);
    return ok ? 0 : 1;
}

int call(const QString& host, const QString& message) {
    QEventLoop lookupWait;
    HostLookupResult found;
    bool answered = false;
    QObject context;
    // As the program does: multicast DNS answers what the system resolver does not know.
    lookupHostIPv4(
        host, &context,
        [&](const HostLookupResult& result) {
            found = result;
            answered = true;
            lookupWait.quit();
        },
        [](const QString& name) { return resolveMdnsIPv4(name); });
    if (!answered) {
        QTimer::singleShot(10000, &lookupWait, &QEventLoop::quit);
        lookupWait.exec();
    }
    if (found.addresses.isEmpty()) {
        std::printf("%s was not found: %s\n", qPrintable(host), qPrintable(found.error));
        return 1;
    }
    const QHostAddress address = found.addresses.first();
    std::printf("%s is %s\n", qPrintable(host), qPrintable(address.toString()));

    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, kSignalPort)) {
        std::printf("cannot bind port %u: %s\n", kSignalPort, qPrintable(socket.errorString()));
        return 1;
    }
    QEventLoop replyWait;
    QObject::connect(&socket, &QUdpSocket::readyRead, &replyWait, &QEventLoop::quit);
    QTimer::singleShot(10000, &replyWait, &QEventLoop::quit);
    socket.writeDatagram(QByteArrayLiteral("Calling|probe"), address, kSignalPort);
    replyWait.exec();
    if (!socket.hasPendingDatagrams()) {
        std::printf("no answer from %s\n", qPrintable(address.toString()));
        return 1;
    }
    const QNetworkDatagram reply = socket.receiveDatagram();
    std::printf("answer \"%s\" from %s\n", reply.data().constData(),
                qPrintable(reply.senderAddress().toString()));
    return reply.senderAddress().isEqual(address, QHostAddress::TolerantConversion) &&
                   reply.data() == message.toUtf8()
               ? 0
               : 1;
}

int gone(const QString& callerId, int seconds) {
    const auto source = settledSource();
    QElapsedTimer clock;
    clock.start();
    for (int round = 1;; ++round) {
        if (!listsPhone(walkOnce(*source, round), callerId)) {
            std::printf("gone after %d refreshes, %lld ms\n", round, static_cast<long long>(clock.elapsed()));
            return 0;
        }
        if (clock.elapsed() >= seconds * 1000LL) {
            std::printf("still listed after %d refreshes, %lld ms\n", round,
                        static_cast<long long>(clock.elapsed()));
            return 1;
        }
        runFor(1000);
    }
}

// Announcements as an attacker would make them: the caller ID bytes of each, and the name its
// contact must read back as (an instance name stands in for a caller ID without text).
struct Hostile {
    const char* what;
    QByteArray cid; // null: no "cid" at all
    QString instance;
    QString readBack;
};

const QList<Hostile>& hostileTable() {
    static const QList<Hostile> table = {
        {"NUL", QByteArray("\0a", 2), "Hostile 1", "a"},
        {"CR LF", "Bob\r\nMallory <203.0.113.66>\r\n", "Hostile 2", "Bob Mallory ‹203.0.113.66›"},
        {"LF", "Eve\nX <1.2.3.4>", "Hostile 3", "Eve X ‹1.2.3.4›"},
        {"< and >", "<b>x</b> <h1.local>", "Hostile 4", "‹b›x‹/b› ‹h1.local›"},
        {"a lone >", "a>b", "Hostile 5", "a›b"},
        {"tab, DEL, C1", "a\tb\x7f\xc2\x85", "Hostile 6", "a b"},
        {"terminal escapes", "\x1b[2J\x1b[31mred", "Hostile 7", "[2J [31mred"},
        {"invalid UTF-8", "\xff\xfeJos\xe9", "Hostile 8", "ÿþJosé"},
        {"251-byte UTF-8", QString(125, QChar(0xE9)).toUtf8() + "x", "Hostile 9",
         QString(125, QChar(0xE9)) + "x"},
        {"longest TXT", QByteArray(251, 'L'), "Hostile 10", QString(251, 'L')},
        {"only controls", "\r\n\0", "Hostile 11", "Hostile 11"},
        {"no cid, < > in the instance", QByteArray(), "Inst <i> 12", "Inst ‹i› 12"},
    };
    return table;
}

QString hostileHost(int index) {
    return QStringLiteral("hostile-%1.local").arg(index + 1);
}

// Announces each (instance, host, TXT) as a phone of its own entry group, all at 192.0.2.2.
class RawPhones {
public:
    struct Phone {
        QString instance;
        QString host;
        QList<QByteArray> txt;
    };
    explicit RawPhones(QList<Phone> phones)
        : m_phones(std::move(phones)), m_connection([this](AvahiClientState s) {
              if (s == AVAHI_CLIENT_S_RUNNING) {
                  publish();
              }
          }) {
        if (m_connection.running()) {
            publish();
        }
    }

private:
    void publish() {
        AvahiAddress address{};
        avahi_address_parse("192.0.2.2", AVAHI_PROTO_INET, &address);
        for (const Phone& p : m_phones) {
            AvahiEntryGroup* group = avahi_entry_group_new(m_connection.client(), nullptr, nullptr);
            AvahiStringList* txt = nullptr;
            for (const QByteArray& t : p.txt) {
                txt = avahi_string_list_add_arbitrary(txt, reinterpret_cast<const uint8_t*>(t.constData()),
                                                      size_t(t.size()));
            }
            const QByteArray host = p.host.toUtf8();
            const QByteArray instance = p.instance.toUtf8();
            const bool ok =
                group != nullptr &&
                avahi_entry_group_add_address(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                              AVAHI_PUBLISH_NO_REVERSE, host.constData(), &address) >= 0 &&
                avahi_entry_group_add_service_strlst(
                    group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags(0), instance.constData(),
                    "_talvora._udp", nullptr, host.constData(), kSignalPort, txt) >= 0 &&
                avahi_entry_group_commit(group) >= 0;
            avahi_string_list_free(txt);
            if (!ok) {
                std::fprintf(stderr, "cannot announce %s on %s\n", qPrintable(p.instance),
                             qPrintable(p.host));
            }
        }
    }

    QList<Phone> m_phones;
    AvahiConnection m_connection; // frees the groups with its client
};

const QString kLongCallerId(126, QChar(0xE9)); // 252 bytes: "cid=" and it are one byte too many

int publishHostile() {
    QList<RawPhones::Phone> phones;
    for (int i = 0; i < hostileTable().size(); ++i) {
        const Hostile& h = hostileTable()[i];
        QList<QByteArray> txt{"txtvers=1"};
        if (!h.cid.isNull()) {
            txt << "cid=" + h.cid;
        }
        phones.append({h.instance, hostileHost(i), txt});
    }
    RawPhones hostile(phones);
    ServicePublisher publisher(kLongCallerId);
    return runUntilStopped();
}

int publishMany(int count) {
    QList<RawPhones::Phone> phones;
    for (int i = 1; i <= count; ++i) {
        phones.append({QStringLiteral("Phone %1").arg(i),
                       QStringLiteral("phone-%1.local").arg(i),
                       {"txtvers=1", "cid=Phone " + QByteArray::number(i), "status=avail"}});
    }
    RawPhones many(phones);
    return runUntilStopped();
}

QString escaped(const QByteArray& bytes) {
    QString out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += b >= 0x20 && b < 0x7F ? QString(QLatin1Char(c))
                                     : QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    return out;
}

int hostile(const QString& longHost) {
    const auto source = settledSource();
    const QStringList lines = walkOnce(*source, 1);
    const QStringList own = {"Anna <192.168.1.20>", "Zed <zed.local>"};
    AddressBook book;
    book.replace(own);
    const int added = addListedHosts(lines, book);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("IPAddress.dat"));
    const bool saved = writeAddressBookFile(path, book.entries());
    const AddressBookRead read = readAddressBookFile(path);
    AddressBook reread;
    reread.replace(read.text.entries);

    bool ok = saved && read.status == AddressBookRead::Status::Read && read.text.whole();
    std::printf("added %d; saved %s, read back %s, %d entries\n", added, saved ? "yes" : "NO",
                read.text.whole() ? "whole" : "IN PART", reread.count());
    for (const QString& entry : own) {
        const bool kept = reread.entries().contains(entry);
        std::printf("  %s: %s\n", kept ? "kept" : "LOST", qPrintable(entry));
        ok = ok && kept;
    }
    auto check = [&](const char* what, const QString& announced, const QString& host, const QString& name) {
        const QString expected = contactEntry(name, host);
        const auto it = std::find_if(reread.entries().cbegin(), reread.entries().cend(),
                                     [&](const QString& e) { return hailingAddress(e) == host; });
        const QString got = it == reread.entries().cend() ? QStringLiteral("(missing)") : *it;
        const bool good = got == expected && listedHost(got) == host;
        std::printf("  %-4s| %-28s| %s\n       -> %s\n", good ? "ok" : "BAD", what, qPrintable(announced),
                    qPrintable(got));
        ok = ok && good;
    };
    for (int i = 0; i < hostileTable().size(); ++i) {
        const Hostile& h = hostileTable()[i];
        check(h.what, h.cid.isNull() ? "(instance) " + h.instance : "cid=" + escaped(h.cid), hostileHost(i),
              h.readBack);
    }
    check("126 x U+00E9 (our publisher)", "cid=" + kLongCallerId, longHost, QString(124, QChar(0xE9)) + "…");
    const int again = addListedHosts(lines, reread);
    std::printf("adding the same listing again adds %d\n", again);
    ok = ok && again == 0 && reread.count() == own.size() + hostileTable().size() + 1;
    return ok ? 0 : 1;
}

// The phones of publish-many listed (others may still be in the daemon's cache).
int phonesListed(const QStringList& lines) {
    const QRegularExpression many(
        QStringLiteral("^Host Name and Connection Path: \\\\\\\\phone-\\d+\\.local$"));
    return int(std::count_if(lines.cbegin(), lines.cend(),
                             [&](const QString& l) { return many.match(l).hasMatch(); }));
}

int refreshMany(int count, int rounds) {
    const auto source = settledSource();
    QElapsedTimer clock;
    clock.start();
    int first = 0;
    while ((first = phonesListed(walkOnce(*source, 0, false))) < count && clock.elapsed() < 60000) {
        runFor(500);
    }
    std::printf("%d phones listed after %lld ms\n", first, static_cast<long long>(clock.elapsed()));
    if (first < count) {
        return 1;
    }
    // Each refresh starts from inside the last one's ready, as "Refresh List" pressed at once.
    QList<int> listed;
    QList<qint64> took;
    QEventLoop loop;
    std::function<void()> next = [&] {
        if (listed.size() == rounds) {
            loop.quit();
            return;
        }
        clock.restart();
        source->refresh([&] {
            listed << phonesListed(walkNetwork(*source, kResourceTypeDisk, kDisplayTypeServer));
            took << clock.elapsed();
            next();
        });
    };
    next();
    loop.exec();
    // The dialog closed during a search and opened again at once.
    for (int round = 0; round < rounds; ++round) {
        source->refresh([] {});
        runFor(50 + 37 * round);
        source->cancel();
        clock.restart();
        const QStringList lines = walkOnce(*source, 0, false);
        listed << phonesListed(lines);
        took << clock.elapsed();
    }
    bool ok = true;
    for (int i = 0; i < listed.size(); ++i) {
        std::printf("refresh %2d (%s): %d of %d phones, %lld ms\n", i + 1,
                    i < rounds ? "back to back" : "after an abandoned one", listed[i], count,
                    static_cast<long long>(took[i]));
        ok = ok && listed[i] == count;
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString command = args.value(1);
    if (command == "publish" && args.size() >= 3) {
        return publish(args[2]);
    }
    if (command == "browse" && args.size() >= 4) {
        return browse(args[2], args[3], args.size() >= 5 ? args[4].toInt() : 1);
    }
    if (command == "add" && args.size() >= 4) {
        return add(args[2], args[3]);
    }
    if (command == "call" && args.size() >= 4) {
        return call(args[2], args[3]);
    }
    if (command == "gone" && args.size() >= 4) {
        return gone(args[2], args[3].toInt());
    }
    if (command == "publish-hostile") {
        return publishHostile();
    }
    if (command == "hostile" && args.size() >= 3) {
        return hostile(args[2]);
    }
    if (command == "publish-many" && args.size() >= 3) {
        return publishMany(args[2].toInt());
    }
    if (command == "refresh-many" && args.size() >= 4) {
        return refreshMany(args[2].toInt(), args[3].toInt());
    }
    std::fprintf(stderr,
                 "usage: avahi_pair_helper publish CALLER_ID | browse CALLER_ID HOST [ROUNDS] |"
                 " add CALLER_ID HOST | call HOST MESSAGE | gone CALLER_ID SECONDS |"
                 " publish-hostile | hostile HOST | publish-many COUNT | refresh-many COUNT ROUNDS\n");
    return 2;
}
