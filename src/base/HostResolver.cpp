#include "base/HostResolver.h"

#include "base/Error.h"

#include <QHostInfo>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <memory>
#include <optional>

namespace talvora {

namespace {

// LOCALHOST in any letter case and dotted IPv4 addresses need no resolver.
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

const QString kHostNotFound = QStringLiteral("Host not found");

HostLookupFallback& fallbackLookup() {
    static HostLookupFallback fallback;
    return fallback;
}

} // namespace

void setHostLookupFallback(HostLookupFallback fallback) {
    fallbackLookup() = std::move(fallback);
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
        if (const HostLookupFallback& fallback = fallbackLookup()) {
            if (const std::optional<QHostAddress> address = fallback(host)) {
                return *address;
            }
        }
        throw Error(QString::fromLocal8Bit(::gai_strerror(rc != 0 ? rc : EAI_NONAME)));
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    return QHostAddress(found->ai_addr);
}

void lookupHostIPv4(const QString& host, QObject* context, HostLookupDone done) {
    if (const auto literal = literalIPv4(host)) {
        done({{*literal}, {}});
        return;
    }
    if (host.isEmpty()) {
        done({{}, kHostNotFound});
        return;
    }
    QHostInfo::lookupHost(host, context, [done = std::move(done)](const QHostInfo& info) {
        HostLookupResult result;
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() == QHostAddress::IPv4Protocol) {
                result.addresses << address;
            }
        }
        if (result.addresses.isEmpty()) {
            // A ".local" name without nss-mdns: multicast DNS answers within its short timeout.
            if (const HostLookupFallback& fallback = fallbackLookup()) {
                if (const std::optional<QHostAddress> address = fallback(info.hostName())) {
                    result.addresses << *address;
                    done(result);
                    return;
                }
            }
            result.error = info.error() == QHostInfo::NoError ? kHostNotFound : info.errorString();
        }
        done(result);
    });
}

} // namespace talvora
