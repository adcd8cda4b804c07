#pragma once

#include <QMetaObject>
#include <QObject>
#include <QtGlobal>

#include <functional>
#include <mutex>
#include <optional>

namespace talvora {

// Hands values from any thread to a handler on the thread that made this object (which runs an
// event loop), newest only: a value the handler has not taken yet is replaced by a newer one, so
// that a busy receiver shows the latest picture instead of working through a queue of stale
// ones. post() never waits for the receiver. The owner stops every poster before destroying it.
template <class T> class LatestValue {
public:
    explicit LatestValue(std::function<void(T)> handler) : m_handler(std::move(handler)) {}

    LatestValue(const LatestValue&) = delete;
    LatestValue& operator=(const LatestValue&) = delete;

    void post(T value) {
        bool wake = false;
        {
            const std::lock_guard lock(m_lock);
            wake = !m_value.has_value();
            if (!wake) {
                ++m_replaced;
            }
            m_value = std::move(value);
        }
        if (wake) {
            QMetaObject::invokeMethod(
                &m_receiver, [this] { deliver(); }, Qt::QueuedConnection);
        }
    }

    // Values that a newer one replaced before the handler took them.
    quint64 replaced() const {
        const std::lock_guard lock(m_lock);
        return m_replaced;
    }

private:
    void deliver() {
        // A handler that runs a nested event loop (a message box) gets the next value after it
        // returns, not inside itself.
        if (m_delivering) {
            m_deliverAgain = true;
            return;
        }
        std::optional<T> value;
        {
            const std::lock_guard lock(m_lock);
            value.swap(m_value);
        }
        if (value) {
            m_delivering = true;
            m_handler(std::move(*value));
            m_delivering = false;
        }
        if (m_deliverAgain) {
            m_deliverAgain = false;
            QMetaObject::invokeMethod(
                &m_receiver, [this] { deliver(); }, Qt::QueuedConnection);
        }
    }

    std::function<void(T)> m_handler;
    QObject m_receiver; // on the receiving thread: deliveries queue to it, and die with it
    mutable std::mutex m_lock;
    // Guarded by m_lock: the value waiting for the handler, and the count of those replaced.
    std::optional<T> m_value;
    quint64 m_replaced = 0;
    // On the receiving thread only.
    bool m_delivering = false;
    bool m_deliverAgain = false;
};

} // namespace talvora
