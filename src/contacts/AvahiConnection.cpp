#include "contacts/AvahiConnection.h"

#include <avahi-common/error.h>

#include <QTimer>

namespace talvora {

AvahiConnection::AvahiConnection(std::function<void(AvahiClientState)> onState)
    : m_onState(std::move(onState)) {
    connectToDaemon();
    m_constructed = true;
}

AvahiConnection::~AvahiConnection() {
    if (m_client != nullptr) {
        avahi_client_free(m_client);
    }
}

void AvahiConnection::connectToDaemon() {
    int error = 0;
    // The state callback runs inside avahi_client_new already, before m_client is set.
    m_client =
        avahi_client_new(m_poll.poll(), AVAHI_CLIENT_NO_FAIL, &AvahiConnection::stateChanged, this, &error);
}

void AvahiConnection::stateChanged(AvahiClient* client, AvahiClientState state, void* self) {
    auto* connection = static_cast<AvahiConnection*>(self);
    if (connection->m_client == nullptr) {
        connection->m_client = client;
    }
    // A daemon that is already there reports "running" inside avahi_client_new, while the
    // owner is still constructing this connection and cannot use it yet.
    if (connection->m_constructed) {
        connection->m_onState(state);
    }
    if (state == AVAHI_CLIENT_FAILURE && avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
        // A client cannot be freed from its own callback.
        QTimer::singleShot(0, connection, [connection, client] {
            if (connection->m_client == client) {
                avahi_client_free(client);
                connection->m_client = nullptr;
                connection->connectToDaemon();
            }
        });
    }
}

} // namespace talvora
