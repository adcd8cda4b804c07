#pragma once

#include "contacts/DnsSdClient.h"

#include <QObject>
#include <QTimer>

#include <algorithm>

namespace talvora::test {

// A DNS-SD daemon in memory, as faithful as the discovery needs: a browse reports every service
// of its type and then "all for now", a resolve answers after the service's delay (or never), and
// every callback runs from the event loop, bound to its operation, so that destroying an operation
// stops it as freeing an Avahi browser or resolver does.
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
    int resolvesStarted = 0;
    int mostResolvesAtOnce = 0;

    int liveOperations() const { return m_live; }
    void loseDaemon() { reportLost(); }

    std::unique_ptr<DnsSdOperation> browse(const QByteArray& type, BrowseEvents events) override {
        auto op = std::make_unique<Operation>(m_live);
        QList<DnsSdService> found;
        for (const Service& s : services) {
            if (s.type == type) {
                found.append({1, 0, s.name, s.type, "local", false});
            }
        }
        QTimer::singleShot(0, &op->context, [found, events] {
            for (const DnsSdService& s : found) {
                events.found(s);
            }
            events.allForNow();
        });
        return op;
    }

    std::unique_ptr<DnsSdOperation> resolve(const DnsSdService& service, ResolveDone done) override {
        ++resolvesStarted;
        auto op = std::make_unique<Operation>(m_live, &m_resolving);
        mostResolvesAtOnce = std::max(mostResolvesAtOnce, m_resolving);
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
        explicit Operation(int& live, int* resolving = nullptr) : live(live), resolving(resolving) {
            ++live;
            if (resolving) {
                ++*resolving;
            }
        }
        ~Operation() override {
            --live;
            if (resolving) {
                --*resolving;
            }
        }
        int& live;
        int* resolving;
        QObject context;
    };
    int m_live = 0;
    int m_resolving = 0;
};

} // namespace talvora::test
