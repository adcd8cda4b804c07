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
#include "base/HostResolver.h"
#include "contacts/AddressBook.h"
#include "contacts/AvahiNetworkSource.h"
#include "contacts/ContactEntry.h"
#include "contacts/DiscoveryWalk.h"
#include "contacts/MdnsResolver.h"
#include "contacts/ServicePublisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <csignal>
#include <cstdio>

using namespace talvora;

namespace {

constexpr quint16 kSignalPort = 6767;

int publish(const QString& callerId) {
    ServicePublisher publisher(callerId);
    // SIGTERM ends the event loop, so that the publisher withdraws the service on the way out.
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return QCoreApplication::exec();
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
QStringList walkOnce(AvahiNetworkSource& source, int round) {
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
    const QStringList lines = walkNetwork(
        source, kResourceTypeDisk, kDisplayTypeServer, [] {}, [] { return true; });
    std::printf("walk %d: %lld ms, %lld lines\n", round, static_cast<long long>(clock.elapsed()),
                static_cast<long long>(lines.size()));
    for (int i = 0; i + 2 < lines.size(); i += 4) {
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
    // As the program does: multicast DNS answers what the system resolver does not know.
    setHostLookupFallback([](const QString& name) { return resolveMdnsIPv4(name); });
    QEventLoop lookupWait;
    HostLookupResult found;
    bool answered = false;
    QObject context;
    lookupHostIPv4(host, &context, [&](const HostLookupResult& result) {
        found = result;
        answered = true;
        lookupWait.quit();
    });
    if (!answered) {
        QTimer::singleShot(10000, &lookupWait, &QEventLoop::quit);
        lookupWait.exec();
    }
    setHostLookupFallback(nullptr);
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
    std::fprintf(stderr, "usage: avahi_pair_helper publish CALLER_ID | browse CALLER_ID HOST [ROUNDS] |"
                         " add CALLER_ID HOST | call HOST MESSAGE | gone CALLER_ID SECONDS\n");
    return 2;
}
