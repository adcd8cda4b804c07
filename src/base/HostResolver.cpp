#include "base/HostResolver.h"

#include "base/Error.h"

#include <QFutureWatcher>
#include <QHostInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <memory>
#include <optional>

namespace talvora {

namespace {

const QString kHostNotFound = QStringLiteral("Host not found");

} // namespace

std::optional<QHostAddress> literalIPv4(const QString& host) {
    if (host.compare(QLatin1String("LOCALHOST"), Qt::CaseInsensitive) == 0) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    QHostAddress dotted;
    if (dotted.setAddress(host) && dotted.protocol() == QHostAddress::IPv4Protocol) {
        return dotted;
    }
    return std::nullopt;
}

QHostAddress resolveIPv4(const QString& host) {
    if (const auto literal = literalIPv4(host)) {
        return *literal;
    }
    if (host.isEmpty()) {
        throw Error(kHostNotFound);
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const QByteArray name = host.toUtf8();
    const int rc = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        throw Error(QString::fromLocal8Bit(::gai_strerror(rc != 0 ? rc : EAI_NONAME)));
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    return QHostAddress(found->ai_addr);
}

void lookupHostIPv4(const QString& host, QObject* context, HostLookupDone done, HostLookupFallback fallback) {
    if (const auto literal = literalIPv4(host)) {
        done({{*literal}, {}});
        return;
    }
    if (host.isEmpty()) {
        done({{}, kHostNotFound});
        return;
    }
    QHostInfo::lookupHost(
        host, context,
        [context, done = std::move(done), fallback = std::move(fallback)](const QHostInfo& info) {
            HostLookupResult result;
            for (const QHostAddress& address : info.addresses()) {
                if (address.protocol() == QHostAddress::IPv4Protocol) {
                    result.addresses << address;
                }
            }
            if (!result.addresses.isEmpty() || !fallback) {
                if (result.addresses.isEmpty()) {
                    result.error = info.error() == QHostInfo::NoError ? kHostNotFound : info.errorString();
                }
                done(result);
                return;
            }
            // A ".local" name without nss-mdns: multicast DNS answers within its
            // short timeout, on a worker thread. The watcher is the context's
            // child, so the answer dies with the context.
            const QString error = info.error() == QHostInfo::NoError ? kHostNotFound : info.errorString();
            auto* watcher = new QFutureWatcher<std::optional<QHostAddress>>(context);
            QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done, error] {
                const std::optional<QHostAddress> found = watcher->result();
                watcher->deleteLater();
                done(found ? HostLookupResult{{*found}, {}} : HostLookupResult{{}, error});
            });
            watcher->setFuture(QtConcurrent::run(fallback, info.hostName()));
        });
}

} // namespace talvora
