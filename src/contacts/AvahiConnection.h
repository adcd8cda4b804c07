#pragma once

#include "contacts/QtAvahiPoll.h"

#include <avahi-client/client.h>

#include <QObject>

#include <functional>

namespace talvora {

// One Avahi client on the main thread that survives daemon restarts: without a daemon it waits
// for one (AVAHI_CLIENT_NO_FAIL); when the daemon goes away (AVAHI_CLIENT_FAILURE with
// AVAHI_ERR_DISCONNECTED) the client is freed and created anew, once control is back in the event
// loop. `onState` sees every state change after the constructor has returned (the owner asks
// `running()` for the state the constructor reached: its connection member is not set until
// then); on a failure the owner must drop everything it made on the old client before returning. Without a
// system bus there is no client at all and nothing is reported: the phone runs without DNS-SD.
class AvahiConnection : public QObject {
    Q_OBJECT
public:
    explicit AvahiConnection(std::function<void(AvahiClientState)> onState);
    ~AvahiConnection() override;

    // Null without a client.
    AvahiClient* client() const { return m_client; }
    bool running() const {
        return m_client != nullptr && avahi_client_get_state(m_client) == AVAHI_CLIENT_S_RUNNING;
    }

private:
    static void stateChanged(AvahiClient* client, AvahiClientState state, void* self);
    void connectToDaemon();

    QtAvahiPoll m_poll;
    std::function<void(AvahiClientState)> m_onState;
    AvahiClient* m_client = nullptr;
    bool m_constructed = false;
};

} // namespace talvora
