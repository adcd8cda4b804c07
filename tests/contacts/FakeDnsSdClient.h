#pragma once

#include "contacts/DnsSdClient.h"

#include <QObject>
#include <QTimer>

#include <algorithm>

namespace talvora::test {

// A DNS-SD daemon in memory: a browse reports every service of its type and then "all for now",
// a resolve answers after the service's delay (or never), and every callback runs from the event
// loop bound to its operation, so that destroying an operation stops it, as freeing an Avahi
// browser or resolver does.
class FakeDnsSdClient : public DnsSdClient {
public:
    struct Service {
        QByteArray type;
        QByteArray name;
        QByteArray host;
        QList<QByteArray> txt;
        int resolveMs = 0; // negative: never answers
    };
    QList<Service> services;
    bool browsesHang = false; // never say "all for now"
    int resolvesStarted = 0;
    int mostResolvesAtOnce = 0;

    int liveOperations() const { return m_browses + m_resolves; }
    void loseDaemon() { reportLost(); }

    std::unique_ptr<DnsSdOperation> browse(const QByteArray& type, BrowseEvents events) override {
        auto op = std::make_unique<Operation>(m_browses);
        QList<DnsSdService> found;
        for (const Service& s : services) {
            if (s.type == type) {
                found.append({1, 0, s.name, s.type, "local", false});
            }
        }
        QTimer::singleShot(0, &op->context, [found, events, hang = browsesHang] {
            std::for_each(found.cbegin(), found.cend(), events.found);
            if (!hang) {
                events.allForNow();
            }
        });
        return op;
    }

    std::unique_ptr<DnsSdOperation> resolve(const DnsSdService& service, ResolveDone done) override {
        ++resolvesStarted;
        auto op = std::make_unique<Operation>(m_resolves);
        mostResolvesAtOnce = std::max(mostResolvesAtOnce, m_resolves);
        for (const Service& s : services) {
            if (s.type == service.type && s.name == service.name && s.resolveMs >= 0) {
                QTimer::singleShot(s.resolveMs, &op->context,
                                   [done, r = DnsSdResolved{s.host, s.txt, false}] { done(r); });
            }
        }
        return op;
    }

    QString ownHostName() const override { return QStringLiteral("me.local"); }

private:
    struct Operation : DnsSdOperation {
        explicit Operation(int& counter) : counter(counter) { ++counter; }
        ~Operation() override { --counter; }
        int& counter;
        QObject context;
    };
    int m_browses = 0;
    int m_resolves = 0;
};

} // namespace talvora::test
