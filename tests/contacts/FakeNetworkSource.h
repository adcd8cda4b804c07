#pragma once

#include "contacts/NetworkSource.h"

#include <utility>

#include <QMap>

namespace talvora::test {

// A network held in memory: containers
// are looked up by remote name (the root under the empty name); a container missing from the map
// cannot be read. `refresh` is ready at once unless `holdRefresh` is set, when the test releases
// it with `release()`.
class FakeNetworkSource : public talvora::NetworkSource {
public:
    QMap<QString, QList<NetworkResource>> containers;
    bool holdRefresh = false;
    int refreshes = 0;
    int reads = 0;

    void refresh(std::function<void()> ready) override {
        ++refreshes;
        m_pending = std::move(ready);
        if (!holdRefresh) {
            release();
        }
    }
    void cancel() override { m_pending = nullptr; }
    bool pending() const { return static_cast<bool>(m_pending); }
    void release() {
        if (auto ready = std::exchange(m_pending, nullptr)) {
            ready();
        }
    }
    std::optional<QList<NetworkResource>> readContainer(int, const NetworkResource* container) override {
        ++reads;
        const QString key = container ? container->remoteName : QString();
        const auto it = containers.constFind(key);
        if (it == containers.cend()) {
            return std::nullopt;
        }
        return *it;
    }

private:
    std::function<void()> m_pending;
};

} // namespace talvora::test
