#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace talvora {

// A service as a browser reports it: enough to resolve it.
struct DnsSdService {
    int interfaceIndex = -1;
    int protocol = -1;
    QByteArray name; // the instance name, as the daemon gives it
    QByteArray type;
    QByteArray domain;
    bool local = false; // announced by this machine
};

// What resolving a service gave.
struct DnsSdResolved {
    QByteArray hostName;
    QList<QByteArray> txt; // the TXT strings, "key=value", byte for byte as announced
    bool local = false;    // announced by this machine
};

// A browse or a resolve that is running. Destroying it stops it: its callbacks never run again.
class DnsSdOperation {
public:
    virtual ~DnsSdOperation() = default;
};

// What the discovery asks of the machine's DNS-SD daemon: Avahi's client in the phone, a fake in
// memory in tests. Callbacks run on the main thread from the event loop, never inside the call that
// started the operation.
class DnsSdClient {
public:
    struct BrowseEvents {
        std::function<void(const DnsSdService&)> found;
        // Every service known for now has been reported (or the browse failed, and will report
        // nothing more).
        std::function<void()> allForNow;
    };
    using ResolveDone = std::function<void(const std::optional<DnsSdResolved>&)>;

    virtual ~DnsSdClient() = default;

    // Browses one service type in the local domain; null when there is no daemon to ask.
    virtual std::unique_ptr<DnsSdOperation> browse(const QByteArray& type, BrowseEvents events) = 0;
    // Resolves a service once; `done` gets nothing when it cannot be resolved. Null when the
    // resolve cannot start.
    virtual std::unique_ptr<DnsSdOperation> resolve(const DnsSdService& service, ResolveDone done) = 0;
    // This machine's host name in the local domain, empty when unknown.
    virtual QString ownHostName() const = 0;
    // Called when the daemon goes away. Every operation has stopped for good; the owner drops
    // them before returning (they are not used again).
    void setLostHandler(std::function<void()> lost) { m_lost = std::move(lost); }

protected:
    void reportLost() {
        if (m_lost) {
            m_lost();
        }
    }

private:
    std::function<void()> m_lost;
};

} // namespace talvora
