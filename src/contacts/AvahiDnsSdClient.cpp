#include "contacts/AvahiDnsSdClient.h"

#include <avahi-client/lookup.h>
#include <avahi-common/strlst.h>

namespace talvora {

namespace {

class AvahiBrowse : public DnsSdOperation {
public:
    AvahiBrowse(std::weak_ptr<const bool> clientAlive, DnsSdClient::BrowseEvents events)
        : m_clientAlive(std::move(clientAlive)), m_events(std::move(events)) {}
    ~AvahiBrowse() override {
        if (m_browser != nullptr && !m_clientAlive.expired()) {
            avahi_service_browser_free(m_browser);
        }
    }

    bool start(AvahiClient* client, const QByteArray& type) {
        m_browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.constData(),
                                              "local", AvahiLookupFlags(0), &AvahiBrowse::browsed, this);
        return m_browser != nullptr;
    }

private:
    static void browsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                        AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                        AvahiLookupResultFlags flags, void* self) {
        const DnsSdClient::BrowseEvents& events = static_cast<AvahiBrowse*>(self)->m_events;
        switch (event) {
        case AVAHI_BROWSER_NEW:
            events.found({interface, protocol, QByteArray(name), QByteArray(type), QByteArray(domain),
                          (flags & AVAHI_LOOKUP_RESULT_LOCAL) != 0});
            break;
        case AVAHI_BROWSER_ALL_FOR_NOW:
        case AVAHI_BROWSER_FAILURE:
            events.allForNow();
            break;
        case AVAHI_BROWSER_REMOVE:
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }

    std::weak_ptr<const bool> m_clientAlive;
    DnsSdClient::BrowseEvents m_events;
    AvahiServiceBrowser* m_browser = nullptr;
};

class AvahiResolve : public DnsSdOperation {
public:
    AvahiResolve(std::weak_ptr<const bool> clientAlive, DnsSdClient::ResolveDone done)
        : m_clientAlive(std::move(clientAlive)), m_done(std::move(done)) {}
    ~AvahiResolve() override {
        if (m_resolver != nullptr && !m_clientAlive.expired()) {
            avahi_service_resolver_free(m_resolver);
        }
    }

    bool start(AvahiClient* client, const DnsSdService& s) {
        m_resolver = avahi_service_resolver_new(client, s.interfaceIndex, s.protocol, s.name.constData(),
                                                s.type.constData(), s.domain.constData(), AVAHI_PROTO_UNSPEC,
                                                AvahiLookupFlags(0), &AvahiResolve::resolved, this);
        return m_resolver != nullptr;
    }

private:
    static void resolved(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                         const char*, const char*, const char*, const char* hostName, const AvahiAddress*,
                         uint16_t, AvahiStringList* txt, AvahiLookupResultFlags flags, void* self) {
        auto* resolve = static_cast<AvahiResolve*>(self);
        if (event != AVAHI_RESOLVER_FOUND) {
            resolve->m_done(std::nullopt);
            return;
        }
        DnsSdResolved out{QByteArray(hostName),
                          {},
                          (flags & (AVAHI_LOOKUP_RESULT_LOCAL | AVAHI_LOOKUP_RESULT_OUR_OWN)) != 0};
        for (AvahiStringList* item = txt; item != nullptr; item = avahi_string_list_get_next(item)) {
            out.txt << QByteArray(reinterpret_cast<const char*>(avahi_string_list_get_text(item)),
                                  qsizetype(avahi_string_list_get_size(item)));
        }
        resolve->m_done(out);
    }

    std::weak_ptr<const bool> m_clientAlive;
    DnsSdClient::ResolveDone m_done;
    AvahiServiceResolver* m_resolver = nullptr;
};

} // namespace

AvahiDnsSdClient::AvahiDnsSdClient()
    : m_connection(std::make_unique<AvahiConnection>([this](AvahiClientState s) { onClientState(s); })) {}

AvahiDnsSdClient::~AvahiDnsSdClient() = default;

void AvahiDnsSdClient::onClientState(AvahiClientState state) {
    if (state == AVAHI_CLIENT_FAILURE) {
        // The failed client's browsers and resolvers go with it: the owner drops its operations
        // now, and from here on they leave the client's objects alone.
        reportLost();
        m_clientAlive = std::make_shared<const bool>(true);
    }
}

AvahiClient* AvahiDnsSdClient::runningClient() const {
    return m_connection->running() ? m_connection->client() : nullptr;
}

std::unique_ptr<DnsSdOperation> AvahiDnsSdClient::browse(const QByteArray& type, BrowseEvents events) {
    AvahiClient* client = runningClient();
    auto op = std::make_unique<AvahiBrowse>(m_clientAlive, std::move(events));
    if (client == nullptr || !op->start(client, type)) {
        return nullptr;
    }
    return op;
}

std::unique_ptr<DnsSdOperation> AvahiDnsSdClient::resolve(const DnsSdService& service, ResolveDone done) {
    AvahiClient* client = runningClient();
    auto op = std::make_unique<AvahiResolve>(m_clientAlive, std::move(done));
    if (client == nullptr || !op->start(client, service)) {
        return nullptr;
    }
    return op;
}

QString AvahiDnsSdClient::ownHostName() const {
    AvahiClient* client = m_connection->client();
    const char* own = client != nullptr ? avahi_client_get_host_name_fqdn(client) : nullptr;
    return own != nullptr ? QString::fromUtf8(own) : QString();
}

} // namespace talvora
