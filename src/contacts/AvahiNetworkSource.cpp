#include "contacts/AvahiNetworkSource.h"

#include "base/TextEncoding.h"
#include "contacts/AvahiDnsSdClient.h"
#include "contacts/ContactEntry.h"
#include "contacts/NetworkText.h"

#include <QPointer>
#include <QTimer>

#include <array>
#include <deque>
#include <vector>

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

// The value of `key` in a TXT record, byte for byte; empty when the key is absent.
QByteArray txtValue(const QList<QByteArray>& txt, QByteArrayView key) {
    for (const QByteArray& item : txt) {
        const qsizetype eq = item.indexOf('=');
        if (eq >= 0 && QByteArrayView(item).first(eq).compare(key, Qt::CaseInsensitive) == 0) {
            return item.mid(eq + 1);
        }
    }
    return {};
}

} // namespace

// One service being resolved, a child of its search: it owns the resolve and the timer that
// bounds it, so both end with it, and it reports once (found, failed or out of time).
class AvahiNetworkSource::PendingResolve : public QObject {
public:
    PendingResolve(Search& search, int kind, const DnsSdService& service);
    bool start(DnsSdClient& client, int boundMs);
    // Gives it `ms` more from now.
    void extend(int ms);

private:
    void end(const std::optional<DnsSdResolved>& result, bool answered);

    Search& m_search;
    int m_kind;
    DnsSdService m_service;
    std::unique_ptr<DnsSdOperation> m_resolve;
    QTimer m_bound;
    bool m_ended = false;
};

// One refresh: it owns its browses, and its resolves as QObject children.
class AvahiNetworkSource::Search : public QObject {
public:
    Search(DnsSdClient& client, const DiscoveryBounds& bounds, std::function<void()> complete)
        : m_client(client), m_bounds(bounds), m_ownHost(client.ownHostName()),
          m_complete(std::move(complete)) {
        for (QTimer* bound : {&m_quiet, &m_deadline}) {
            bound->setSingleShot(true);
            connect(bound, &QTimer::timeout, this, [this] { completeNow(); });
        }
    }

    void start() {
        for (int kind = 0; kind < int(kKinds.size()); ++kind) {
            std::unique_ptr<DnsSdOperation> browse =
                m_client.browse(kKinds[kind].type, {[this, kind](const DnsSdService& s) { onFound(kind, s); },
                                                    [this, kind] { onAllForNow(kind); }});
            if (browse) {
                m_browses.push_back(std::move(browse));
                m_browsing[kind] = true;
                ++m_browsesPending;
            }
        }
        m_deadline.start(m_bounds.maxWalkMs);
        m_quiet.start(m_bounds.quietMs);
        completeIfDone();
    }

    const Hosts& found() const { return m_found; }

    void resolveEnded(PendingResolve* ended, int kind, const DnsSdService& service,
                      const std::optional<DnsSdResolved>& result, bool answered) {
        --m_resolving;
        std::erase(m_running, ended);
        if (answered) {
            m_quiet.start(m_bounds.quietMs);
            // The daemon is answering: a resolve runs out of time only while it answers none.
            // On a busy machine a whole round of answers can take longer than one bound.
            for (const QPointer<PendingResolve>& running : m_running) {
                running->extend(m_bounds.resolveMs);
            }
        }
        // It is freed from the event loop, not inside its own callback; its place goes to the next
        // one only then, so no more than resolvesAtOnce are ever open at the daemon.
        m_ended.push_back(ended);
        if (!std::exchange(m_freeing, true)) {
            QMetaObject::invokeMethod(
                this, [this] { freeEndedAndGoOn(); }, Qt::QueuedConnection);
        }
        if (!m_done && result && !result->local) {
            addHost(kind, service, *result);
        }
        completeIfDone();
    }

private:
    void onFound(int kind, const DnsSdService& service) {
        m_quiet.start(m_bounds.quietMs);
        if (m_done || service.local) {
            return; // late, or this machine's own
        }
        m_waiting.push_back({kind, service});
        startResolves();
    }

    void freeEndedAndGoOn() {
        m_freeing = false;
        for (const QPointer<PendingResolve>& ended : std::exchange(m_ended, {})) {
            delete ended.data();
        }
        startResolves();
    }

    void startResolves() {
        const int atOnce = std::max(1, m_bounds.resolvesAtOnce);
        while (!m_done && !m_waiting.empty() && m_resolving + int(m_ended.size()) < atOnce) {
            const auto [kind, service] = m_waiting.front();
            m_waiting.pop_front();
            auto* pending = new PendingResolve(*this, kind, service);
            ++m_resolving;
            if (pending->start(m_client, m_bounds.resolveMs)) {
                m_running.push_back(pending);
            } else {
                --m_resolving;
                delete pending;
            }
        }
        completeIfDone(); // when the last ones could not start
    }

    void onAllForNow(int kind) {
        // Each browser says so once that counts; after that it stays but no longer holds the search.
        m_quiet.start(m_bounds.quietMs);
        if (m_browsing[kind]) {
            m_browsing[kind] = false;
            --m_browsesPending;
        }
        completeIfDone();
    }

    void addHost(int kind, const DnsSdService& service, const DnsSdResolved& resolved) {
        // A host name is hailed as it stands: one that no entry would read back is left out, not
        // mended into another host's name.
        const QString hostName = decodeText(resolved.hostName);
        if (hostName.isEmpty() || !hostReadsBack(hostName) ||
            hostName.compare(m_ownHost, Qt::CaseInsensitive) == 0) {
            return;
        }
        const QString key = hostName.toLower();
        const auto it = m_found.constFind(key);
        if (it != m_found.cend() && it->typeIndex <= kind) {
            return; // already known by a service that ranks as high
        }
        QString comment;
        if (kind == kPhoneKind) {
            comment = networkText(txtValue(resolved.txt, "cid"));
        }
        if (comment.isEmpty()) {
            comment = networkText(service.name);
        }
        m_found.insert(key, Host{kind, hostName, comment});
    }

    void completeIfDone() {
        if (m_browsesPending == 0 && m_waiting.empty() && m_resolving == 0) {
            completeNow();
        }
    }

    void completeNow() {
        if (m_done) {
            return;
        }
        m_done = true;
        m_quiet.stop();
        m_deadline.stop();
        m_complete();
    }

    DnsSdClient& m_client;
    DiscoveryBounds m_bounds;
    QString m_ownHost;
    std::function<void()> m_complete;
    std::vector<std::unique_ptr<DnsSdOperation>> m_browses;
    std::array<bool, kKinds.size()> m_browsing{};
    int m_browsesPending = 0;
    std::deque<std::pair<int, DnsSdService>> m_waiting; // found, not yet being resolved
    int m_resolving = 0;
    std::vector<QPointer<PendingResolve>> m_running; // children waiting for their answer
    std::vector<QPointer<PendingResolve>> m_ended;   // children to free
    bool m_freeing = false;
    QTimer m_quiet;
    QTimer m_deadline;
    bool m_done = false;
    Hosts m_found;
};

AvahiNetworkSource::PendingResolve::PendingResolve(Search& search, int kind, const DnsSdService& service)
    : QObject(&search), m_search(search), m_kind(kind), m_service(service) {
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, [this] { end(std::nullopt, false); });
}

bool AvahiNetworkSource::PendingResolve::start(DnsSdClient& client, int boundMs) {
    m_resolve = client.resolve(m_service, [this](const std::optional<DnsSdResolved>& r) { end(r, true); });
    if (m_resolve) {
        m_bound.start(boundMs); // from when the daemon has it
    }
    return m_resolve != nullptr;
}

void AvahiNetworkSource::PendingResolve::extend(int ms) {
    m_bound.start(ms);
}

void AvahiNetworkSource::PendingResolve::end(const std::optional<DnsSdResolved>& result, bool answered) {
    if (m_ended) {
        return; // a resolver may report again; the first answer counts
    }
    m_ended = true;
    m_bound.stop();
    m_search.resolveEnded(this, m_kind, m_service, result, answered);
}

AvahiNetworkSource::AvahiNetworkSource() : AvahiNetworkSource(std::make_unique<AvahiDnsSdClient>()) {}

AvahiNetworkSource::AvahiNetworkSource(std::unique_ptr<DnsSdClient> client, DiscoveryBounds bounds)
    : m_client(std::move(client)), m_bounds(bounds) {
    m_client->setLostHandler([this] { onLost(); });
}

AvahiNetworkSource::~AvahiNetworkSource() {
    cancel();
    m_client->setLostHandler(nullptr);
}

void AvahiNetworkSource::refresh(std::function<void()> ready) {
    cancel();
    m_ready = std::move(ready);
    m_started.start();
    const quint64 generation = m_generation;
    m_search =
        std::make_unique<Search>(*m_client, m_bounds, [this, generation] { searchComplete(generation); });
    m_search->start();
}

void AvahiNetworkSource::cancel() {
    ++m_generation;
    m_ready = nullptr;
    m_search.reset(); // its browses, resolves and timers with it
}

void AvahiNetworkSource::searchComplete(quint64 generation) {
    m_found = m_search->found();
    // The search completes inside one of its own callbacks: it is dropped from the event loop.
    QTimer::singleShot(0, &m_context, [this, generation] { finish(generation); });
}

void AvahiNetworkSource::onLost() {
    // Every browse and resolve died with the daemon's client: the refresh ends with what it has.
    if (m_search) {
        m_found = m_search->found();
        m_search.reset();
        QTimer::singleShot(0, &m_context, [this, generation = m_generation] { finish(generation); });
    }
}

void AvahiNetworkSource::finish(quint64 generation) {
    if (generation != m_generation) {
        return; // a completion of a refresh that was cancelled or replaced since
    }
    m_search.reset();
    m_snapshot = std::exchange(m_found, {});
    m_lastRefreshMs = m_started.isValid() ? m_started.elapsed() : 0;
    if (auto ready = std::exchange(m_ready, nullptr)) {
        ready();
    }
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
