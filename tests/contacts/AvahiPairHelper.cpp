// One side of the two-namespace DNS-SD test, run inside a namespace with that side's bus:
//   avahi_pair_helper publish CALLER_ID     announces a phone until it is stopped
//   avahi_pair_helper browse CALLER_ID HOST [ROUNDS]
//                                           walks the network with the real Avahi source (ROUNDS
//                                           times, default 1), prints the lines and how long
//                                           each walk took, and resolves HOST through Avahi;
//                                           exits 0 when the phone is listed with its caller ID
//                                           and the host resolved
#include "contacts/AvahiNetworkSource.h"
#include "contacts/DiscoveryWalk.h"
#include "contacts/MdnsResolver.h"
#include "contacts/ServicePublisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <csignal>
#include <cstdio>

using namespace talvora;

namespace {

int publish(const QString& callerId) {
    ServicePublisher publisher(callerId);
    // SIGTERM ends the event loop, so that the publisher withdraws the service on the way out.
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return QCoreApplication::exec();
}

int browse(const QString& callerId, const QString& host, int rounds) {
    AvahiNetworkSource source;
    // Let the client reach the running state first.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    bool listed = false;
    for (int round = 0; round < rounds; ++round) {
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
        std::printf("walk %d: %lld ms, %lld lines\n", round + 1, static_cast<long long>(clock.elapsed()),
                    static_cast<long long>(lines.size()));
        for (int i = 0; i + 2 < lines.size(); i += 4) {
            std::printf("  %s | %s | %s\n", qPrintable(lines[i]), qPrintable(lines[i + 1]),
                        qPrintable(lines[i + 2]));
            if (lines[i] == "Computer Name: " + callerId &&
                lines[i + 2] == "Network Provider: Talvora phone") {
                listed = true;
            }
        }
    }
    QElapsedTimer clock;
    clock.start();
    const std::optional<QHostAddress> address = resolveMdnsIPv4(host);
    std::printf("%s resolves to %s in %lld ms\n", qPrintable(host),
                address ? qPrintable(address->toString()) : "nothing",
                static_cast<long long>(clock.elapsed()));
    return listed && address ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "publish") {
        return publish(args[2]);
    }
    if (args.size() >= 4 && args[1] == "browse") {
        return browse(args[2], args[3], args.size() >= 5 ? args[4].toInt() : 1);
    }
    std::fprintf(stderr, "usage: avahi_pair_helper publish CALLER_ID | browse CALLER_ID HOST [ROUNDS]\n");
    return 2;
}
