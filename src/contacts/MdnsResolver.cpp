#include "contacts/MdnsResolver.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/simple-watch.h>

#include <QDeadlineTimer>
#include <QtEndian>

#include <memory>

namespace talvora {

namespace {

struct Lookup {
    bool done = false;
    std::optional<QHostAddress> address;
};

void hostResolved(AvahiHostNameResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char*,
                  const AvahiAddress* a, AvahiLookupResultFlags, void* data) {
    auto* lookup = static_cast<Lookup*>(data);
    lookup->done = true;
    if (event == AVAHI_RESOLVER_FOUND && a != nullptr && a->proto == AVAHI_PROTO_INET) {
        lookup->address = QHostAddress(quint32(qFromBigEndian(a->data.ipv4.address)));
    }
}

} // namespace

std::optional<QHostAddress> resolveMdnsIPv4(const QString& host, int timeoutMs) {
    if (!host.endsWith(QLatin1String(".local"), Qt::CaseInsensitive) &&
        !host.endsWith(QLatin1String(".local."), Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    const QDeadlineTimer deadline(timeoutMs);
    std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(avahi_simple_poll_new(),
                                                                             &avahi_simple_poll_free);
    if (!poll) {
        return std::nullopt;
    }
    int error = 0;
    std::unique_ptr<AvahiClient, decltype(&avahi_client_free)> client(
        avahi_client_new(avahi_simple_poll_get(poll.get()), AvahiClientFlags(0), nullptr, nullptr, &error),
        &avahi_client_free);
    if (!client) {
        return std::nullopt; // no daemon
    }
    Lookup lookup;
    const QByteArray name = host.toUtf8();
    std::unique_ptr<AvahiHostNameResolver, decltype(&avahi_host_name_resolver_free)> resolver(
        avahi_host_name_resolver_new(client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, name.constData(),
                                     AVAHI_PROTO_INET, AvahiLookupFlags(0), &hostResolved, &lookup),
        &avahi_host_name_resolver_free);
    if (!resolver) {
        return std::nullopt;
    }
    while (!lookup.done && !deadline.hasExpired()) {
        if (avahi_simple_poll_iterate(poll.get(), int(std::max<qint64>(1, deadline.remainingTime()))) != 0) {
            break;
        }
    }
    return lookup.address;
}

} // namespace talvora
