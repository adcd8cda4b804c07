#pragma once

#include "contacts/AvahiConnection.h"

#include <avahi-client/publish.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace talvora {

inline constexpr char kPhoneServiceType[] = "_talvora._udp";
inline constexpr quint16 kPhoneServicePort = 6767;

// Announces this phone on the local network while it runs: DNS-SD service `_talvora._udp` on
// port 6767, instance name = the caller ID (Avahi's alternative name, "Name #2", when another
// phone already has it), TXT "txtvers=1", "cid=<caller ID>", "status=avail" or "busy". The
// announcement is withdrawn when the publisher is destroyed. Without an Avahi daemon nothing
// happens and nothing is said; a daemon that starts or restarts later gets the announcement.
class ServicePublisher {
public:
    // `privateCalls`: the phone answers on UDP 6768 (hang-up, reports, encryption), which the
    // announcement says with "link=1" for discovery to show; older phones announce no such key.
    explicit ServicePublisher(QString callerId, bool privateCalls = true);
    ~ServicePublisher();

    void setCallerId(const QString& callerId);
    // The phone calls this as calls start and end.
    void setBusy(bool busy);

    // The instance name in use (after any renaming) and whether the daemon confirmed it.
    QString publishedName() const { return m_name; }
    bool established() const { return m_established; }

    // The TXT strings announced, in order, each "key=value" within a TXT string's 255 bytes: a
    // caller ID that does not fit is cut between two characters and ends in "…".
    QList<QByteArray> txtRecord() const;

private:
    void onClientState(AvahiClientState state);
    void publish();
    void rename();
    void dropGroup();
    static void groupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);

    QString m_callerId;
    QString m_name;
    bool m_busy = false;
    bool m_privateCalls = true;
    bool m_established = false;
    AvahiEntryGroup* m_group = nullptr;
    std::unique_ptr<AvahiConnection> m_connection;
};

} // namespace talvora
