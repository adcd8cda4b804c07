#pragma once

#include "contacts/AvahiConnection.h"
#include "contacts/NetworkSource.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTimer>

#include <memory>
#include <vector>

struct AvahiServiceBrowser;
struct AvahiServiceResolver;

namespace talvora {

// The network neighbourhood through DNS-SD: the root holds one container per service type
// (phones first, then workstations, Windows shares, SSH servers and devices), and each type holds
// the hosts whose best service it is, as servers: remote name "\\" + the host's .local name,
// comment the phone's caller ID or the computer's instance name, provider a short kind. One host
// is one entry however many services, interfaces and addresses it has; this machine is left out.
//
// Each refresh browses every type in the local domain afresh and resolves every service found,
// so a phone that has gone is no longer listed. It is ready when every browser has reported all
// it knows for now and every resolve has ended (each within its own bound), and at the latest
// after `kMaxWalkMs`. Without an Avahi daemon it is ready at once, with an empty network.
class AvahiNetworkSource : public NetworkSource {
public:
    static constexpr int kMaxWalkMs = 3000;
    static constexpr int kResolveMs = 1000;

    AvahiNetworkSource();
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
    struct Resolve;

    void onClientState(AvahiClientState state);
    void stopSearch();
    void finishIfDone();
    void finish();
    static void browsed(AvahiServiceBrowser* b, AvahiIfIndex interface, AvahiProtocol protocol,
                        AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                        AvahiLookupResultFlags flags, void* self);
    static void resolved(AvahiServiceResolver* r, AvahiIfIndex interface, AvahiProtocol protocol,
                         AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                         const char* hostName, const AvahiAddress* address, uint16_t port,
                         AvahiStringList* txt, AvahiLookupResultFlags flags, void* resolve);
    void addHost(int typeIndex, const QString& instance, const QString& hostName, AvahiStringList* txt);

    std::unique_ptr<AvahiConnection> m_connection;
    std::function<void()> m_ready;
    std::vector<AvahiServiceBrowser*> m_browsers;
    int m_browsersPending = 0;
    std::vector<std::unique_ptr<Resolve>> m_resolves;
    QTimer m_deadline;
    QElapsedTimer m_started;
    qint64 m_lastRefreshMs = 0;
    QMap<QString, Host> m_found;    // this refresh, by lower-case host name
    QMap<QString, Host> m_snapshot; // the last completed refresh
};

} // namespace talvora
