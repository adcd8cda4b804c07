#pragma once

#include "contacts/AvahiConnection.h"
#include "contacts/DnsSdClient.h"

#include <memory>

namespace talvora {

// DnsSdClient through the machine's Avahi daemon. Its browsers and resolvers belong to one Avahi
// client; when the daemon goes away that client fails and takes them all with it, so an operation
// of a failed client frees nothing of its own. Without a daemon nothing can be browsed.
class AvahiDnsSdClient : public DnsSdClient {
public:
    AvahiDnsSdClient();
    ~AvahiDnsSdClient() override;

    std::unique_ptr<DnsSdOperation> browse(const QByteArray& type, BrowseEvents events) override;
    std::unique_ptr<DnsSdOperation> resolve(const DnsSdService& service, ResolveDone done) override;
    QString ownHostName() const override;

private:
    void onClientState(AvahiClientState state);
    AvahiClient* runningClient() const;

    // Alive while the client that the operations were made on is: they free their Avahi objects
    // only while it is.
    std::shared_ptr<const bool> m_clientAlive = std::make_shared<const bool>(true);
    std::unique_ptr<AvahiConnection> m_connection;
};

} // namespace talvora
