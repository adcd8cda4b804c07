#include "contacts/AvahiNetworkSource.h"

#include <avahi-client/lookup.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <algorithm>
#include <array>

namespace talvora {

namespace {

struct ServiceKind {
    const char* type;
    const char* description;
    const char* provider;
};

// Browsed in this order; a host offering several is listed under the first.
constexpr std::array<ServiceKind, 5> kKinds{{
    {"_talvora._udp", "Talvora phones", "Talvora phone"},
    {"_workstation._tcp", "Workstations", "Workstation"},
    {"_smb._tcp", "Windows shares", "Windows share"},
    {"_ssh._tcp", "SSH servers", "SSH"},
    {"_device-info._tcp", "Devices", "Device"},
}};
constexpr int kPhoneKind = 0;

QString txtValue(AvahiStringList* txt, const char* key) {
    AvahiStringList* item = avahi_string_list_find(txt, key);
    char* k = nullptr;
    char* v = nullptr;
    size_t size = 0;
    if (item == nullptr || avahi_string_list_get_pair(item, &k, &v, &size) < 0) {
        return {};
    }
    const QString value = v ? QString::fromUtf8(v, qsizetype(size)) : QString();
    avahi_free(k);
    avahi_free(v);
    return value;
}

} // namespace

struct AvahiNetworkSource::Resolve {
    AvahiNetworkSource* source = nullptr;
    int typeIndex = 0;
    AvahiServiceResolver* resolver = nullptr;
};

AvahiNetworkSource::AvahiNetworkSource()
    : m_connection(std::make_unique<AvahiConnection>([this](AvahiClientState s) { onClientState(s); })) {
    m_deadline.setSingleShot(true);
    QObject::connect(&m_deadline, &QTimer::timeout, [this] { finish(); });
}

AvahiNetworkSource::~AvahiNetworkSource() {
    m_ready = nullptr;
    stopSearch();
    m_connection.reset();
}

void AvahiNetworkSource::onClientState(AvahiClientState state) {
    if (state == AVAHI_CLIENT_FAILURE && m_ready) {
        // Browsers and resolvers die with their client: the refresh ends with what it has.
        finish();
    }
}

void AvahiNetworkSource::refresh(std::function<void()> ready) {
    cancel();
    m_found.clear();
    m_ready = std::move(ready);
    m_started.start();
    AvahiClient* client = m_connection->running() ? m_connection->client() : nullptr;
    if (client != nullptr) {
        for (const ServiceKind& kind : kKinds) {
            if (AvahiServiceBrowser* b =
                    avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kind.type, "local",
                                              AvahiLookupFlags(0), &AvahiNetworkSource::browsed, this)) {
                m_browsers.push_back(b);
            }
        }
    }
    m_browsersPending = int(m_browsers.size());
    if (m_browsersPending == 0) {
        finish();
        return;
    }
    m_deadline.start(kMaxWalkMs);
}

void AvahiNetworkSource::cancel() {
    m_ready = nullptr;
    stopSearch();
}

void AvahiNetworkSource::stopSearch() {
    m_deadline.stop();
    for (AvahiServiceBrowser* b : m_browsers) {
        avahi_service_browser_free(b);
    }
    m_browsers.clear();
    m_browsersPending = 0;
    for (const auto& r : m_resolves) {
        avahi_service_resolver_free(r->resolver);
    }
    m_resolves.clear();
}

void AvahiNetworkSource::finishIfDone() {
    if (m_ready && m_browsersPending == 0 && m_resolves.empty()) {
        finish();
    }
}

void AvahiNetworkSource::finish() {
    stopSearch();
    m_snapshot = m_found;
    m_lastRefreshMs = m_started.isValid() ? m_started.elapsed() : 0;
    if (auto ready = std::exchange(m_ready, nullptr)) {
        ready();
    }
}

void AvahiNetworkSource::browsed(AvahiServiceBrowser* b, AvahiIfIndex interface, AvahiProtocol protocol,
                                 AvahiBrowserEvent event, const char* name, const char* type,
                                 const char* domain, AvahiLookupResultFlags flags, void* self) {
    auto* source = static_cast<AvahiNetworkSource*>(self);
    if (std::find(source->m_browsers.begin(), source->m_browsers.end(), b) == source->m_browsers.end()) {
        return; // a browser of an abandoned refresh
    }
    switch (event) {
    case AVAHI_BROWSER_NEW: {
        if (flags & AVAHI_LOOKUP_RESULT_LOCAL) {
            return; // this machine's own services
        }
        const auto kind = std::find_if(kKinds.begin(), kKinds.end(),
                                       [type](const ServiceKind& k) { return qstrcmp(k.type, type) == 0; });
        auto resolve = std::make_unique<Resolve>();
        resolve->source = source;
        resolve->typeIndex = int(kind - kKinds.begin());
        resolve->resolver = avahi_service_resolver_new(
            avahi_service_browser_get_client(b), interface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
            AvahiLookupFlags(0), &AvahiNetworkSource::resolved, resolve.get());
        if (resolve->resolver == nullptr) {
            return;
        }
        AvahiServiceResolver* resolver = resolve->resolver;
        source->m_resolves.push_back(std::move(resolve));
        // Each resolve has its own bound; one silent host must not hold the others.
        QTimer::singleShot(kResolveMs, &source->m_deadline, [source, resolver] {
            auto& all = source->m_resolves;
            const auto it = std::find_if(all.begin(), all.end(),
                                         [resolver](const auto& r) { return r->resolver == resolver; });
            if (it != all.end()) {
                avahi_service_resolver_free(resolver);
                all.erase(it);
                source->finishIfDone();
            }
        });
        break;
    }
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_FAILURE:
        // Each browser says so once; after that the browser stays but no longer holds the walk.
        if (source->m_browsersPending > 0) {
            --source->m_browsersPending;
        }
        source->finishIfDone();
        break;
    case AVAHI_BROWSER_REMOVE:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
}

void AvahiNetworkSource::resolved(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol,
                                  AvahiResolverEvent event, const char* name, const char*, const char*,
                                  const char* hostName, const AvahiAddress*, uint16_t, AvahiStringList* txt,
                                  AvahiLookupResultFlags flags, void* resolveData) {
    auto* resolve = static_cast<Resolve*>(resolveData);
    AvahiNetworkSource* source = resolve->source;
    if (event == AVAHI_RESOLVER_FOUND &&
        !(flags & (AVAHI_LOOKUP_RESULT_LOCAL | AVAHI_LOOKUP_RESULT_OUR_OWN))) {
        source->addHost(resolve->typeIndex, QString::fromUtf8(name), QString::fromUtf8(hostName), txt);
    }
    auto& all = source->m_resolves;
    const auto it = std::find_if(all.begin(), all.end(), [r](const auto& x) { return x->resolver == r; });
    avahi_service_resolver_free(r);
    if (it != all.end()) {
        all.erase(it); // `resolve` is gone from here on
    }
    source->finishIfDone();
}

void AvahiNetworkSource::addHost(int typeIndex, const QString& instance, const QString& hostName,
                                 AvahiStringList* txt) {
    const char* own =
        m_connection->client() ? avahi_client_get_host_name_fqdn(m_connection->client()) : nullptr;
    if (hostName.isEmpty() ||
        (own != nullptr && hostName.compare(QString::fromUtf8(own), Qt::CaseInsensitive) == 0)) {
        return;
    }
    const QString key = hostName.toLower();
    const auto it = m_found.constFind(key);
    if (it != m_found.cend() && it->typeIndex <= typeIndex) {
        return; // already known by a service that ranks as high
    }
    QString comment = instance;
    if (typeIndex == kPhoneKind) {
        if (const QString cid = txtValue(txt, "cid"); !cid.isEmpty()) {
            comment = cid;
        }
    }
    m_found.insert(key, Host{typeIndex, hostName, comment});
}

std::optional<QList<NetworkResource>> AvahiNetworkSource::readContainer(int,
                                                                        const NetworkResource* container) {
    QList<NetworkResource> out;
    if (container == nullptr) {
        for (const ServiceKind& kind : kKinds) {
            out.append({kDisplayTypeDomain, kUsageContainer, QString::fromLatin1(kind.type),
                        QString::fromLatin1(kind.description), QStringLiteral("DNS-SD")});
        }
        return out;
    }
    if (container->displayType == kDisplayTypeServer) {
        return out; // a host holds no shares here
    }
    const auto kind = std::find_if(kKinds.begin(), kKinds.end(), [container](const ServiceKind& k) {
        return container->remoteName == QLatin1String(k.type);
    });
    if (kind == kKinds.end()) {
        return std::nullopt;
    }
    const int index = int(kind - kKinds.begin());
    for (const Host& host : m_snapshot) {
        if (host.typeIndex == index) {
            out.append({kDisplayTypeServer, kUsageContainer, QStringLiteral("\\\\") + host.hostName,
                        host.comment, QString::fromLatin1(kind->provider)});
        }
    }
    return out;
}

} // namespace talvora
