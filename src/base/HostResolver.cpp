#include "base/HostResolver.h"

#include "base/Error.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <memory>

namespace talvora {

namespace {

HostLookupFallback& fallbackLookup() {
    static HostLookupFallback fallback;
    return fallback;
}

} // namespace

void setHostLookupFallback(HostLookupFallback fallback) {
    fallbackLookup() = std::move(fallback);
}

QHostAddress resolveIPv4(const QString& host) {
    if (host.compare(QLatin1String("LOCALHOST"), Qt::CaseInsensitive) == 0) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    QHostAddress dotted;
    if (dotted.setAddress(host) && dotted.protocol() == QHostAddress::IPv4Protocol) {
        return dotted;
    }
    if (host.isEmpty()) {
        throw Error(QStringLiteral("Host not found"));
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

} // namespace talvora
