#include "contacts/ServicePublisher.h"

#include "contacts/NetworkText.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <memory>

namespace talvora {

namespace {

constexpr int kMaxLabelBytes = 63; // one DNS label
constexpr int kMaxTxtBytes = 255;  // one TXT string

// The caller ID as a DNS-SD instance name: at most one label, cut between two characters.
QString instanceName(const QString& callerId) {
    const QString name = callerId.isEmpty() ? QStringLiteral("Talvora Video Phone") : callerId;
    return cutToUtf8Bytes(name, kMaxLabelBytes, false);
}

// "key=value" within one TXT string; a value that does not fit is cut between two characters and
// ends in "…".
QByteArray txtEntry(const char* key, const QString& value) {
    const QByteArray head = QByteArray(key) + '=';
    return head + cutToUtf8Bytes(value, kMaxTxtBytes - head.size(), true).toUtf8();
}

using TxtList = std::unique_ptr<AvahiStringList, decltype(&avahi_string_list_free)>;

// Avahi's list of the strings, built as avahi_entry_group_add_service builds it from its arguments.
TxtList avahiTxt(const QList<QByteArray>& strings) {
    AvahiStringList* list = nullptr;
    for (const QByteArray& s : strings) {
        list = avahi_string_list_add_arbitrary(list, reinterpret_cast<const uint8_t*>(s.constData()),
                                               size_t(s.size()));
    }
    return TxtList(list, &avahi_string_list_free);
}

} // namespace

ServicePublisher::ServicePublisher(QString callerId, bool privateCalls)
    : m_callerId(std::move(callerId)), m_name(instanceName(m_callerId)), m_privateCalls(privateCalls),
      m_connection(std::make_unique<AvahiConnection>([this](AvahiClientState s) { onClientState(s); })) {
    if (m_connection->running()) {
        publish();
    }
}

ServicePublisher::~ServicePublisher() {
    dropGroup(); // withdraws the service before the client goes
    m_connection.reset();
}

void ServicePublisher::dropGroup() {
    if (m_group != nullptr) {
        avahi_entry_group_free(m_group);
        m_group = nullptr;
    }
    m_established = false;
}

void ServicePublisher::setCallerId(const QString& callerId) {
    if (callerId == m_callerId) {
        return;
    }
    m_callerId = callerId;
    m_name = instanceName(callerId);
    if (m_group != nullptr) {
        avahi_entry_group_reset(m_group);
        m_established = false;
        publish();
    }
}

void ServicePublisher::setBusy(bool busy) {
    if (busy == m_busy) {
        return;
    }
    m_busy = busy;
    if (m_group != nullptr && !avahi_entry_group_is_empty(m_group)) {
        const QByteArray name = m_name.toUtf8();
        avahi_entry_group_update_service_txt_strlst(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                    AvahiPublishFlags(0), name.constData(), kPhoneServiceType,
                                                    nullptr, avahiTxt(txtRecord()).get());
    }
}

QList<QByteArray> ServicePublisher::txtRecord() const {
    QList<QByteArray> txt{txtEntry("txtvers", QStringLiteral("1")), txtEntry("cid", m_callerId),
                          txtEntry("status", m_busy ? QStringLiteral("busy") : QStringLiteral("avail"))};
    if (m_privateCalls) {
        txt << txtEntry("link", QStringLiteral("1"));
    }
    return txt;
}

void ServicePublisher::onClientState(AvahiClientState state) {
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        publish();
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host name is being (re)negotiated: publish again once the client runs.
        if (m_group != nullptr) {
            avahi_entry_group_reset(m_group);
        }
        m_established = false;
        break;
    case AVAHI_CLIENT_FAILURE:
        // The group belongs to the client that failed; a new client publishes anew.
        m_group = nullptr;
        m_established = false;
        break;
    case AVAHI_CLIENT_CONNECTING:
        break;
    }
}

void ServicePublisher::publish() {
    AvahiClient* client = m_connection ? m_connection->client() : nullptr;
    if (client == nullptr) {
        return;
    }
    if (m_group == nullptr) {
        m_group = avahi_entry_group_new(client, &ServicePublisher::groupChanged, this);
        if (m_group == nullptr) {
            return;
        }
    }
    if (!avahi_entry_group_is_empty(m_group)) {
        return;
    }
    const QByteArray name = m_name.toUtf8();
    const int rc = avahi_entry_group_add_service_strlst(
        m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name.constData(),
        kPhoneServiceType, nullptr, nullptr, kPhoneServicePort, avahiTxt(txtRecord()).get());
    if (rc == AVAHI_ERR_COLLISION) {
        rename();
        return;
    }
    if (rc >= 0) {
        avahi_entry_group_commit(m_group);
    }
}

void ServicePublisher::rename() {
    const QByteArray old = m_name.toUtf8();
    char* alternative = avahi_alternative_service_name(old.constData());
    m_name = QString::fromUtf8(alternative);
    avahi_free(alternative);
    if (m_group != nullptr) {
        avahi_entry_group_reset(m_group);
    }
    publish();
}

void ServicePublisher::groupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    auto* publisher = static_cast<ServicePublisher*>(self);
    if (publisher->m_group == nullptr) {
        publisher->m_group = group; // the callback runs inside avahi_entry_group_new already
    }
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        publisher->m_established = true;
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Another service on the network has our name: take the next alternative.
        publisher->m_established = false;
        publisher->rename();
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

} // namespace talvora
