#pragma once

#include "contacts/DnsSdClient.h"
#include "contacts/NetworkSource.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>

#include <memory>

namespace talvora {

// How long a refresh of the network through DNS-SD may take.
struct DiscoveryBounds {
    // A refresh ends once the daemon has said nothing for quietMs (it is stuck, or only silent
    // hosts are left), and at the latest maxWalkMs after it began. On a busy machine the daemon's
    // answers to a few hundred services can take longer than quietMs in all, but not between two.
    int quietMs = 3000;
    int maxWalkMs = 15000;
    // One resolve, while the daemon answers none of the others: a silent host must not hold
    // the others.
    int resolveMs = 1000;
    // Resolves running at once; the others wait their turn. Starting hundreds at once costs as
    // many blocking calls to the daemon before the first answer is read, which on a busy machine
    // takes longer than a resolve's bound, and the daemon refuses objects beyond its own limit.
    int resolvesAtOnce = 16;
};

// The network neighbourhood through DNS-SD: the root holds one container per service type
// (phones first, then workstations, Windows shares, SSH servers and devices), and each type holds
// the hosts whose best service it is, as servers: remote name "\\" + the host's .local name,
// comment the phone's caller ID or the computer's instance name, provider a short kind. One host
// is one entry however many services, interfaces and addresses it has; this machine is left out.
// Names are taken in as networkText, so no announcement puts a control character into a list,
// and a host whose entry would not read back (hostReadsBack) is left out.
//
// Each refresh is one search: it browses every type in the local domain afresh and resolves every
// service found (a few at a time), so a phone that has gone is no longer listed. It is ready when
// every browser has reported all it knows for now and every resolve has ended (each within its
// own bound), or when the daemon stays silent too long (DiscoveryBounds). A search owns its
// browsers, resolvers and timers; a new refresh, cancel() and the destructor stop it and
// everything it started, so nothing of one refresh reaches another. Without a DNS-SD daemon a
// refresh is ready at once (from the event loop), with an empty network.
class AvahiNetworkSource : public NetworkSource {
public:
    // Through the machine's Avahi daemon.
    AvahiNetworkSource();
    explicit AvahiNetworkSource(std::unique_ptr<DnsSdClient> client, DiscoveryBounds bounds = {});
    ~AvahiNetworkSource() override;

    void refresh(std::function<void()> ready) override;
    void cancel() override;
    std::optional<QList<NetworkResource>> readContainer(int resourceType,
                                                        const NetworkResource* container) override;

    // How long the last completed refresh took, in milliseconds.
    qint64 lastRefreshMs() const { return m_lastRefreshMs; }

private:
    struct Host {
        int typeIndex = 0;
        QString hostName;
        QString comment;
    };
    using Hosts = QMap<QString, Host>; // by lower-case host name
    class Search;
    class PendingResolve;

    void searchComplete(quint64 generation);
    void onLost();
    void finish(quint64 generation);

    std::unique_ptr<DnsSdClient> m_client;
    DiscoveryBounds m_bounds;
    // The context of posted completions; `m_generation` counts refreshes, and a completion of an
    // earlier one finds it changed and does nothing.
    QObject m_context;
    quint64 m_generation = 0;
    std::unique_ptr<Search> m_search; // goes before m_client, whose operations it holds
    std::function<void()> m_ready;
    QElapsedTimer m_started;
    qint64 m_lastRefreshMs = 0;
    Hosts m_found;    // what the search found, once it is complete
    Hosts m_snapshot; // the last completed refresh
};

} // namespace talvora
